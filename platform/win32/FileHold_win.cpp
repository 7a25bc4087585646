// Held files on Windows: CreateFile without sharing (or with every sharing for openShared),
// positioned reads and writes through OVERLAPPED offsets.

#include "platform/FileHold.h"
#include "platform/win32/WinText.h"

#include <algorithm>

namespace kv::platform {

namespace {

HANDLE handleOf(std::intptr_t native) {
    return reinterpret_cast<HANDLE>(native);
}

std::string nameOf(const std::filesystem::path& file) {
    return win32::fromWide(file.native());
}

Result<HANDLE> openFile(const std::filesystem::path& file, FileHold::Open mode, DWORD share) {
    const DWORD disposition = mode == FileHold::Open::CreateIfMissing ? OPEN_ALWAYS : OPEN_EXISTING;
    const DWORD access =
        mode == FileHold::Open::ReadOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    HANDLE handle = CreateFileW(file.c_str(), access, share, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return win32::lastError("cannot open " + nameOf(file));
    return handle;
}

// The number of a failed write as the file's users read it: no room is DiskFull, a refusal
// AccessDenied, anything else a write fault.
Error writeFailure(const std::string& what) {
    Error error = win32::lastError(what);
    if (error.code == ERROR_HANDLE_DISK_FULL || error.code == ERROR_DISK_FULL)
        error.code = win::DiskFull;
    else if (error.code != ERROR_ACCESS_DENIED)
        error.code = win::WriteFault;
    return error;
}

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

// One call moves at most this much, so that a count fits a DWORD.
constexpr std::size_t MaxStep = 1u << 30;

} // namespace

Result<FileHold> FileHold::hold(const std::filesystem::path& file, Open mode) {
    auto handle = openFile(file, mode, 0);
    if (!handle)
        return handle.error();
    return FileHold(reinterpret_cast<std::intptr_t>(*handle), file);
}

Result<FileHold> FileHold::openShared(const std::filesystem::path& file, Open mode) {
    auto handle = openFile(file, mode, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (!handle)
        return handle.error();
    return FileHold(reinterpret_cast<std::intptr_t>(*handle), file);
}

FileHold::FileHold(FileHold&& other) noexcept
    : native_(other.native_), open_(other.open_), path_(std::move(other.path_)) {
    other.open_ = false;
}

FileHold& FileHold::operator=(FileHold&& other) noexcept {
    if (this != &other) {
        release();
        native_ = other.native_;
        open_ = other.open_;
        path_ = std::move(other.path_);
        other.open_ = false;
    }
    return *this;
}

FileHold::~FileHold() {
    release();
}

void FileHold::release() {
    if (open_)
        CloseHandle(handleOf(native_));
    open_ = false;
}

Result<std::size_t> FileHold::readAt(std::uint64_t offset, void* buffer, std::size_t size) {
    if (!open_)
        return Error{win::InvalidHandle, "the file is closed"};
    std::size_t done = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (done < size) {
        OVERLAPPED position = at(offset + done);
        DWORD got = 0;
        const DWORD step = static_cast<DWORD>(std::min(size - done, MaxStep));
        if (!ReadFile(handleOf(native_), bytes + done, step, &got, &position)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            Error error = win32::lastError("cannot read " + nameOf(path_));
            error.code = win::ReadFault;
            return error;
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

Result<void> FileHold::writeAt(std::uint64_t offset, const void* data, std::size_t size) {
    if (!open_)
        return Error{win::InvalidHandle, "the file is closed"};
    std::size_t done = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (done < size) {
        OVERLAPPED position = at(offset + done);
        DWORD written = 0;
        const DWORD step = static_cast<DWORD>(std::min(size - done, MaxStep));
        if (!WriteFile(handleOf(native_), bytes + done, step, &written, &position))
            return writeFailure("cannot write " + nameOf(path_));
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return writeFailure("cannot write " + nameOf(path_));
        }
        done += written;
    }
    return success();
}

Result<void> FileHold::resize(std::uint64_t bytes) {
    if (!open_)
        return Error{win::InvalidHandle, "the file is closed"};
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(bytes);
    if (!SetFileInformationByHandle(handleOf(native_), FileEndOfFileInfo, &end, sizeof end))
        return writeFailure("cannot resize " + nameOf(path_));
    return success();
}

Result<std::uint64_t> FileHold::size() {
    if (!open_)
        return Error{win::InvalidHandle, "the file is closed"};
    LARGE_INTEGER bytes{};
    if (!GetFileSizeEx(handleOf(native_), &bytes))
        return win32::lastError("cannot examine " + nameOf(path_));
    return static_cast<std::uint64_t>(bytes.QuadPart);
}

Result<void> FileHold::flush() {
    if (!open_)
        return Error{win::InvalidHandle, "the file is closed"};
    if (!FlushFileBuffers(handleOf(native_)))
        return writeFailure("cannot flush " + nameOf(path_));
    return success();
}

Result<void> FileHold::flushRange(std::uint64_t, std::uint64_t) {
    // Windows writes a file through only as a whole.
    return flush();
}

} // namespace kv::platform
