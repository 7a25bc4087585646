#include "platform/posix/FileHold.h"

#include "platform/posix/HostFiles.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

namespace kv::platform::sim {

Result<FileHold> FileHold::hold(const std::filesystem::path& file, Open mode) {
    int flags = O_RDWR | O_CLOEXEC;
    if (mode == Open::CreateIfMissing)
        flags |= O_CREAT;
    const int fd = ::open(file.c_str(), flags, 0644);
    if (fd < 0)
        return detail::errnoError(errno, "cannot open " + file.string());
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
    return detail::errnoError(err, "cannot lock " + file.string());
}

FileHold::FileHold(FileHold&& other) noexcept : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

FileHold& FileHold::operator=(FileHold&& other) noexcept {
    if (this != &other) {
        release();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        other.fd_ = -1;
    }
    return *this;
}

FileHold::~FileHold() {
    release();
}

void FileHold::release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool isHeld(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

} // namespace kv::platform::sim
