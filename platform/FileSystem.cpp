#include "platform/FileSystem.h"

namespace kv::platform {

Result<void> FileSystem::deleteFileIfPresent(std::string_view path) {
    auto result = deleteFile(path);
    if (result.code() == win::FileNotFound || result.code() == win::PathNotFound)
        return success();
    return result;
}

} // namespace kv::platform
