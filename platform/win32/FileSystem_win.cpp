// Files through kernel32's wide functions. Names go from UTF-8 to UTF-16 as they are: through
// the ANSI code page a letter the page lacks would become a look-alike ("ā" would name "a") and
// a deletion could hit another file.

#include "platform/win32/WinBackends.h"

#include <algorithm>
#include <vector>

namespace kv::platform::win32 {

namespace {

DWORD attributes(std::string_view path) {
    return GetFileAttributesW(toWide(path).c_str());
}

class File {
public:
    explicit File(HANDLE handle) : handle_(handle) {}
    ~File() { close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    HANDLE get() const { return handle_; }
    bool close() {
        const bool ok = handle_ == INVALID_HANDLE_VALUE || CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE handle_;
};

std::wstring parentOf(const std::wstring& path) {
    const auto sep = path.find_last_of(L"\\/");
    return sep == std::wstring::npos ? std::wstring() : path.substr(0, sep);
}

// An existing file (or folder) with the read-only attribute. The backend checks it as well as
// the system: some systems (Wine run by root) let a write through that Windows refuses, and this
// is the file the user protected.
bool readOnly(const std::wstring& name) {
    const DWORD found = GetFileAttributesW(name.c_str());
    return found != INVALID_FILE_ATTRIBUTES && (found & FILE_ATTRIBUTE_READONLY);
}

// 0 when an existing file may be replaced, else why not, with the numbers CreateFile gives for
// it: a read-only file or a folder is AccessDenied, a file another program holds without
// sharing is SharingViolation. A missing file may be "replaced" (created).
DWORD replaceable(const std::wstring& target) {
    const DWORD found = GetFileAttributesW(target.c_str());
    if (found == INVALID_FILE_ATTRIBUTES)
        return 0;
    if (found & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
        return ERROR_ACCESS_DENIED;
    File probe(CreateFileW(target.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return probe.get() == INVALID_HANDLE_VALUE ? GetLastError() : 0;
}

// A new temporary file beside `target`, open for writing; its name in `temp`.
DWORD createBeside(const std::wstring& target, std::wstring& temp, HANDLE& handle) {
    const std::wstring folder = parentOf(target);
    wchar_t name[MAX_PATH + 1] = {};
    if (!GetTempFileNameW(folder.empty() ? L"." : folder.c_str(), L"kvc", 0, name)) {
        const DWORD error = GetLastError();
        // A missing folder is the path's fault, as CreateFile would say.
        return error == ERROR_DIRECTORY ? ERROR_PATH_NOT_FOUND : error;
    }
    temp = name;
    handle = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        DeleteFileW(temp.c_str());
        return error;
    }
    return 0;
}

// Puts the finished temporary file in the target's place, or removes it when `error` says the
// writing failed; the target is then as it was. The result is the first error.
DWORD finishBeside(const std::wstring& temp, const std::wstring& target, DWORD error) {
    if (error == 0 && !MoveFileExW(temp.c_str(), target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = GetLastError();
    if (error != 0)
        DeleteFileW(temp.c_str());
    return error;
}

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
    if (!GetFileAttributesExW(toWide(path).c_str(), GetFileExInfoStandard, &data))
        return lastError("GetFileAttributesEx " + std::string(path));
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return Error{win::AccessDenied, std::string(path) + " is a folder, not a file"};
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

Result<void> WinFileSystem::copyFile(std::string_view from, std::string_view to,
                                     bool failIfExists) {
    const std::wstring source = toWide(from);
    const std::wstring target = toWide(to);
    // A missing source is reported as such first, as CopyFile does.
    if (!failIfExists && readOnly(target) &&
        GetFileAttributesW(source.c_str()) != INVALID_FILE_ATTRIBUTES)
        return errorFrom(ERROR_ACCESS_DENIED,
                         "CopyFile " + std::string(from) + " to " + std::string(to));
    if (!CopyFileW(source.c_str(), target.c_str(), failIfExists ? TRUE : FALSE))
        return lastError("CopyFile " + std::string(from) + " to " + std::string(to));
    return success();
}

Result<void> WinFileSystem::deleteFile(std::string_view path) {
    const std::wstring name = toWide(path);
    if (readOnly(name))
        return errorFrom(ERROR_ACCESS_DENIED, "DeleteFile " + std::string(path));
    if (!DeleteFileW(name.c_str()))
        return lastError("DeleteFile " + std::string(path));
    return success();
}

Result<void> WinFileSystem::renameFile(std::string_view from, std::string_view to) {
    if (!MoveFileW(toWide(from).c_str(), toWide(to).c_str()))
        return lastError("MoveFile " + std::string(from) + " to " + std::string(to));
    return success();
}

Result<void> WinFileSystem::createFolder(std::string_view path) {
    if (!CreateDirectoryW(toWide(path).c_str(), nullptr))
        return lastError("CreateDirectory " + std::string(path));
    return success();
}

Result<void> WinFileSystem::clearReadOnly(std::string_view path) {
    const std::wstring name = toWide(path);
    const DWORD found = GetFileAttributesW(name.c_str());
    if (found == INVALID_FILE_ATTRIBUTES)
        return lastError("GetFileAttributes " + std::string(path));
    if (found & FILE_ATTRIBUTE_DIRECTORY)
        return errorFrom(ERROR_ACCESS_DENIED, std::string(path) + " is a folder, not a file");
    if (!(found & FILE_ATTRIBUTE_READONLY))
        return success();
    // No attribute left at all is written as "normal", as SetFileAttributes wants it.
    DWORD kept = found & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (kept == 0)
        kept = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileAttributesW(name.c_str(), kept))
        return lastError("SetFileAttributes " + std::string(path));
    return success();
}

Result<std::string> WinFileSystem::readFile(std::string_view path) {
    // Shared as a text viewer shares: a log another program keeps open for writing (SQL Server's
    // ERRORLOG) can still be read.
    File file(CreateFileW(toWide(path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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

// Written into a temporary file beside the target that then takes its place, so that a failed
// write (a full disk) leaves the old file whole.
Result<void> WinFileSystem::writeFile(std::string_view path, std::string_view contents) {
    const std::wstring target = toWide(path);
    const std::string what = "write " + std::string(path);
    if (const DWORD refused = replaceable(target))
        return errorFrom(refused, what);
    std::wstring temp;
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (const DWORD error = createBeside(target, temp, handle))
        return errorFrom(error, what);
    File file(handle);
    DWORD error = 0;
    while (error == 0 && !contents.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(contents.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(file.get(), contents.data(), chunk, &written, nullptr))
            error = GetLastError();
        else if (written == 0)
            error = ERROR_DISK_FULL;
        contents.remove_prefix(written);
    }
    if (!file.close() && error == 0)
        error = GetLastError();
    if ((error = finishBeside(temp, target, error)) != 0)
        return errorFrom(error, what);
    return success();
}

namespace {

// Makes every missing folder on the way to `folder` (the shell copy's FOF_NOCONFIRMMKDIR).
void makeFolders(const std::wstring& folder) {
    if (folder.empty() || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    const std::wstring parent = parentOf(folder);
    if (parent.size() > 2) // not past the drive ("C:")
        makeFolders(parent);
    CreateDirectoryW(folder.c_str(), nullptr);
}

// Moves `size` bytes from `in` to `out`, reporting after every ShellCopyChunk. 0 or an error.
DWORD copyData(HANDLE in, HANDLE out, std::uint64_t size, const CopyProgress& progress) {
    std::vector<char> buffer(1u << 20);
    std::uint64_t done = 0;
    while (done < size) {
        const std::uint64_t chunkEnd = std::min(size, done + ShellCopyChunk);
        while (done < chunkEnd) {
            const auto want =
                static_cast<DWORD>(std::min<std::uint64_t>(buffer.size(), chunkEnd - done));
            DWORD got = 0;
            if (!ReadFile(in, buffer.data(), want, &got, nullptr))
                return GetLastError();
            if (got == 0)
                return ERROR_HANDLE_EOF; // the source shrank while it was copied
            DWORD written = 0;
            if (!WriteFile(out, buffer.data(), got, &written, nullptr))
                return GetLastError();
            if (written != got)
                return ERROR_DISK_FULL;
            done += got;
        }
        if (progress)
            progress(done, size);
    }
    return 0;
}

} // namespace

// SHFileOperation reports no progress and answers some failures with its own DE_ numbers (a
// missing source is 1026 there), and CopyFileEx's progress routine is not called by every
// system (Wine calls it never): the copy is made here, in chunks, into a temporary file beside
// the target that then replaces the target.
int WinFileSystem::shellCopy(std::string_view from, std::string_view to,
                             const CopyProgress& progress) {
    const std::wstring source = toWide(from);
    std::wstring target = toWide(to);
    const DWORD sourceAttributes = GetFileAttributesW(source.c_str());
    if (sourceAttributes == INVALID_FILE_ATTRIBUTES)
        return static_cast<int>(GetLastError());
    if (sourceAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return static_cast<int>(ERROR_ACCESS_DENIED);
    DWORD targetAttributes = GetFileAttributesW(target.c_str());
    if (targetAttributes != INVALID_FILE_ATTRIBUTES &&
        (targetAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const auto sep = source.find_last_of(L"\\/");
        while (!target.empty() && (target.back() == L'\\' || target.back() == L'/'))
            target.pop_back();
        target += L'\\' + (sep == std::wstring::npos ? source : source.substr(sep + 1));
        targetAttributes = GetFileAttributesW(target.c_str());
        if (targetAttributes != INVALID_FILE_ATTRIBUTES &&
            (targetAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return static_cast<int>(ERROR_ACCESS_DENIED);
    }

    // An existing target that another program holds (an attached database file) refuses now,
    // with its own reason: replacing it at the end would only say "access denied".
    if (const DWORD refused = replaceable(target))
        return static_cast<int>(refused);

    File in(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (in.get() == INVALID_HANDLE_VALUE)
        return static_cast<int>(GetLastError());
    LARGE_INTEGER size{};
    FILETIME written{};
    if (!GetFileSizeEx(in.get(), &size) || !GetFileTime(in.get(), nullptr, nullptr, &written))
        return static_cast<int>(GetLastError());
    const auto total = static_cast<std::uint64_t>(size.QuadPart);

    makeFolders(parentOf(target));
    std::wstring temp;
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (const DWORD error = createBeside(target, temp, handle))
        return static_cast<int>(error);
    File out(handle);
    if (progress)
        progress(0, total);
    DWORD error = copyData(in.get(), out.get(), total, progress);
    if (error == 0 && !SetFileTime(out.get(), nullptr, nullptr, &written))
        error = GetLastError();
    if (!out.close() && error == 0)
        error = GetLastError();
    in.close();
    if ((error = finishBeside(temp, target, error)) != 0)
        return static_cast<int>(error);
    // The shell's copy keeps the source's read-only attribute, as CopyFile does; the file made
    // beside the target had none.
    if ((sourceAttributes & FILE_ATTRIBUTE_READONLY) &&
        !SetFileAttributesW(target.c_str(),
                            GetFileAttributesW(target.c_str()) | FILE_ATTRIBUTE_READONLY))
        return static_cast<int>(GetLastError());
    return 0;
}

} // namespace kv::platform::win32
