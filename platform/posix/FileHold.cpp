// Held files on the simulated host: an exclusive flock on the descriptor, positioned reads and
// writes with pread and pwrite.

#include "platform/posix/FileHold.h"

#include "platform/posix/HostFiles.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace kv::platform {

namespace {

int fdOf(std::intptr_t native) {
    return static_cast<int>(native);
}

Result<int> openFile(const std::filesystem::path& file, FileHold::Open mode) {
    int flags = (mode == FileHold::Open::ReadOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    if (mode == FileHold::Open::CreateIfMissing)
        flags |= O_CREAT;
    const int fd = ::open(file.c_str(), flags, 0644);
    if (fd < 0) {
        const int err = errno;
        Error error = sim::detail::errnoError(err, "cannot open " + file.string());
        // As Windows tells them apart: a missing folder on the way is not a missing file.
        std::error_code ec;
        if (err == ENOENT && !std::filesystem::is_directory(file.parent_path(), ec))
            error.code = win::PathNotFound;
        return error;
    }
    return fd;
}

// The Windows number of a failed write: no room is DiskFull, a refusal AccessDenied, anything
// else a write fault.
ErrorCode writeErrorOf(int err) {
    switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return win::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
    case EBADF: // a file opened for reading alone
        return win::AccessDenied;
    default:
        return win::WriteFault;
    }
}

Error writeFailure(int err, const std::string& what) {
    return Error{writeErrorOf(err), what + ": " + std::strerror(err)};
}

} // namespace

Result<FileHold> FileHold::hold(const std::filesystem::path& file, Open mode) {
    auto opened = openFile(file, mode);
    if (!opened)
        return opened.error();
    const int fd = *opened;
    // Another program's probe (isHeld) holds a shared lock for an instant; try a few times
    // before calling the file taken.
    for (int attempt = 0;; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return FileHold(fd, file);
        if (errno != EWOULDBLOCK || attempt == 20)
            break;
        const timespec pause{0, 1000000};
        ::nanosleep(&pause, nullptr);
    }
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK)
        return Error{win::SharingViolation, file.string() + " is held by another program"};
    return sim::detail::errnoError(err, "cannot lock " + file.string());
}

Result<FileHold> FileHold::openShared(const std::filesystem::path& file, Open mode) {
    auto opened = openFile(file, mode);
    if (!opened)
        return opened.error();
    return FileHold(*opened, file);
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
        ::close(fdOf(native_));
    open_ = false;
}

Result<std::size_t> FileHold::readAt(std::uint64_t offset, void* buffer, std::size_t size) {
    if (!open_)
        return Error{win::InvalidHandle, "the file is closed"};
    std::size_t done = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (done < size) {
        const ssize_t n =
            ::pread(fdOf(native_), bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Error{win::ReadFault,
                         "cannot read " + path_.string() + ": " + std::strerror(errno)};
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

Result<void> FileHold::writeAt(std::uint64_t offset, const void* data, std::size_t size) {
    if (!open_)
        return Error{win::InvalidHandle, "the file is closed"};
    std::size_t done = 0;
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (done < size) {
        const ssize_t n =
            ::pwrite(fdOf(native_), bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return writeFailure(n == 0 ? EIO : errno, "cannot write " + path_.string());
        done += static_cast<std::size_t>(n);
    }
    return success();
}

Result<void> FileHold::resize(std::uint64_t bytes) {
    if (!open_)
        return Error{win::InvalidHandle, "the file is closed"};
    if (::ftruncate(fdOf(native_), static_cast<off_t>(bytes)) != 0)
        return writeFailure(errno, "cannot resize " + path_.string());
    return success();
}

Result<std::uint64_t> FileHold::size() {
    if (!open_)
        return Error{win::InvalidHandle, "the file is closed"};
    struct stat st {};
    if (::fstat(fdOf(native_), &st) != 0)
        return sim::detail::errnoError(errno, "cannot examine " + path_.string());
    return static_cast<std::uint64_t>(st.st_size);
}

Result<void> FileHold::flush() {
    if (!open_)
        return Error{win::InvalidHandle, "the file is closed"};
    if (::fsync(fdOf(native_)) != 0)
        return writeFailure(errno, "cannot flush " + path_.string());
    return success();
}

Result<void> FileHold::flushRange(std::uint64_t offset, std::uint64_t size) {
    if (!open_)
        return Error{win::InvalidHandle, "the file is closed"};
    if (::sync_file_range(fdOf(native_), static_cast<off_t>(offset), static_cast<off_t>(size),
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                              SYNC_FILE_RANGE_WAIT_AFTER) != 0)
        return writeFailure(errno, "cannot write " + path_.string() + " through");
    return success();
}

namespace sim {

bool isHeld(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

} // namespace sim

} // namespace kv::platform
