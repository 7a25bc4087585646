// Files through kernel32 and the shell's file operation.

#include "platform/win32/WinBackends.h"

#include <algorithm>
#include <shellapi.h>

namespace kv::platform::win32 {

namespace {

DWORD attributes(std::string_view path) {
    return GetFileAttributesA(toAnsi(path).c_str());
}

class File {
public:
    explicit File(HANDLE handle) : handle_(handle) {}
    ~File() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

} // namespace

bool WinFileSystem::fileExists(std::string_view path) {
    const DWORD found = attributes(path);
    return found != INVALID_FILE_ATTRIBUTES && !(found & FILE_ATTRIBUTE_DIRECTORY);
}

bool WinFileSystem::folderExists(std::string_view path) {
    const DWORD found = attributes(path);
    return found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_DIRECTORY);
}

Result<std::uint64_t> WinFileSystem::fileSize(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(toAnsi(path).c_str(), GetFileExInfoStandard, &data))
        return lastError("GetFileAttributesEx " + std::string(path));
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Error{win::AccessDenied, std::string(path) + " is a folder, not a file"};
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

Result<void> WinFileSystem::copyFile(std::string_view from, std::string_view to,
                                     bool failIfExists) {
    if (!CopyFileA(toAnsi(from).c_str(), toAnsi(to).c_str(), failIfExists ? TRUE : FALSE))
        return lastError("CopyFile " + std::string(from) + " to " + std::string(to));
    return success();
}

Result<void> WinFileSystem::deleteFile(std::string_view path) {
    if (!DeleteFileA(toAnsi(path).c_str()))
        return lastError("DeleteFile " + std::string(path));
    return success();
}

Result<void> WinFileSystem::renameFile(std::string_view from, std::string_view to) {
    if (!MoveFileA(toAnsi(from).c_str(), toAnsi(to).c_str()))
        return lastError("MoveFile " + std::string(from) + " to " + std::string(to));
    return success();
}

Result<void> WinFileSystem::createFolder(std::string_view path) {
    if (!CreateDirectoryA(toAnsi(path).c_str(), nullptr))
        return lastError("CreateDirectory " + std::string(path));
    return success();
}

Result<std::string> WinFileSystem::readFile(std::string_view path) {
    File file(CreateFileA(toAnsi(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return lastError("CreateFile " + std::string(path));
    std::string contents;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr))
            return lastError("ReadFile " + std::string(path));
        if (got == 0)
            break;
        contents.append(buffer, got);
    }
    return contents;
}

Result<void> WinFileSystem::writeFile(std::string_view path, std::string_view contents) {
    File file(CreateFileA(toAnsi(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return lastError("CreateFile " + std::string(path));
    while (!contents.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(contents.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file.get(), contents.data(), chunk, &written, nullptr))
            return lastError("WriteFile " + std::string(path));
        contents.remove_prefix(written);
    }
    return success();
}

// SHFileOperationA has no progress callback of its own; the progress hears the start and the
// end. The shell shows no dialogs: it replaces the target and makes missing folders without
// asking, and reports errors through its return value only.
int WinFileSystem::shellCopy(std::string_view from, std::string_view to,
                             const CopyProgress& progress) {
    std::uint64_t size = 0;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExA(toAnsi(from).c_str(), GetFileExInfoStandard, &data))
        size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    if (progress)
        progress(0, size);
    // Both lists end with two NULs.
    std::string source = toAnsi(from);
    source.append(2, '\0');
    std::string target = toAnsi(to);
    target.append(2, '\0');
    SHFILEOPSTRUCTA operation{};
    operation.wFunc = FO_COPY;
    operation.pFrom = source.c_str();
    operation.pTo = target.c_str();
    operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
    const int result = SHFileOperationA(&operation);
    if (result == 0 && operation.fAnyOperationsAborted)
        return static_cast<int>(ERROR_CANCELLED);
    if (result == 0 && progress)
        progress(size, size);
    return result;
}

} // namespace kv::platform::win32
