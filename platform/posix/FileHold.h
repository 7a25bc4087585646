#pragma once
// How a program of the simulated host holds a file the way a Windows program holds one it opened
// without sharing (SQL Server and its attached database files): FileHold opens the file and takes
// an exclusive flock on the descriptor, which it keeps until it is destroyed or released. The
// host's file functions test a file with isHeld() and refuse to copy from or onto it, delete it or
// rename it with a sharing violation.
//
// The holder reads and writes through fd(). Locks are per open file: a second FileHold on the same
// file fails even in the same process.

#include "platform/Result.h"

#include <filesystem>

namespace kv::platform::sim {

class FileHold {
public:
    enum class Open { Existing, CreateIfMissing };

    // Opens `file` (a real path, for example from SimHost::resolve) read-write and holds it. A
    // file held by someone else fails with SharingViolation.
    static Result<FileHold> hold(const std::filesystem::path& file, Open mode = Open::Existing);

    FileHold(FileHold&& other) noexcept;
    FileHold& operator=(FileHold&& other) noexcept;
    FileHold(const FileHold&) = delete;
    FileHold& operator=(const FileHold&) = delete;
    ~FileHold();

    int fd() const { return fd_; }
    const std::filesystem::path& path() const { return path_; }
    bool holding() const { return fd_ >= 0; }
    // Closes the descriptor and so ends the hold.
    void release();

private:
    FileHold(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}

    int fd_ = -1;
    std::filesystem::path path_;
};

// True when another open file holds `file`. A file that does not exist or cannot be opened is not
// held. The probe takes a shared lock for an instant, so two probes never disturb each other.
bool isHeld(const std::filesystem::path& file);

} // namespace kv::platform::sim
