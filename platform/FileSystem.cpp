#include "platform/FileSystem.h"

namespace kv::platform {

Result<void> FileSystem::deleteFileIfPresent(std::string_view path) {
    auto result = deleteFile(path);
    if (result.code() == win::FileNotFound || result.code() == win::PathNotFound)
        return success();
    return result;
}

Result<FileInfo> FileSystem::fileInfo(std::string_view path) {
    return Error{win::NotSupported, "no file information for " + std::string(path)};
}

Result<std::uint64_t> FileSystem::freeSpace(std::string_view folder) {
    return Error{win::NotSupported, "no free space for " + std::string(folder)};
}

Result<std::vector<FileHolder>> FileSystem::fileHolders(std::string_view path) {
    return Error{win::NotSupported, "no list of the programs that hold " + std::string(path)};
}

} // namespace kv::platform
