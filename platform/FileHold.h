#pragma once
// A file opened for reading and writing at any offset, the way a database server keeps its data
// files open.
//
// hold() opens it without sharing, as SQL Server holds its attached database files: while the
// hold lasts, the machine's file functions refuse to copy from or onto the file, delete it or
// rename it with the sharing violation (32), and a second hold fails with 32 as well, even in the
// same process. Windows: CreateFile with no share mode. Simulated host: an exclusive flock on the
// descriptor, which the host's file functions look at (posix/FileHold.h).
//
// openShared() gives the same access without the hold, for tools that work on a file beside its
// holder (simhost damaging a data file stands for a failing disk). On Windows it fails with 32
// while another program holds the file, as any program's open would, and a hold fails while the
// file is open anywhere else; the simulated host's locks see holds only.
//
// Every failure carries a Windows error number: FileNotFound 2, PathNotFound 3, AccessDenied 5,
// SharingViolation 32, DiskFull 112 for a write that found no room, WriteFault 29 and
// ReadFault 30 for other failed writes and reads.

#include "platform/Result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace kv::platform {

class FileHold {
public:
    // ReadOnly opens an existing file for reading alone (a file with the read-only attribute
    // can so be read); its writes fail with AccessDenied.
    enum class Open { Existing, CreateIfMissing, ReadOnly };

    // Opens `file` (a path of this machine's file system, for example from
    // ServerMachine::resolve) for reading and writing and holds it.
    static Result<FileHold> hold(const std::filesystem::path& file, Open mode = Open::Existing);
    // Opens `file` for reading and writing, shared with every other opener.
    static Result<FileHold> openShared(const std::filesystem::path& file,
                                       Open mode = Open::Existing);

    FileHold(FileHold&& other) noexcept;
    FileHold& operator=(FileHold&& other) noexcept;
    FileHold(const FileHold&) = delete;
    FileHold& operator=(const FileHold&) = delete;
    ~FileHold();

    const std::filesystem::path& path() const { return path_; }
    bool holding() const { return open_; }
    // Closes the file and so ends the hold.
    void release();

    // Reads up to `size` bytes at `offset`; fewer only at the end of the file (0 beyond it).
    Result<std::size_t> readAt(std::uint64_t offset, void* buffer, std::size_t size);
    // Writes all `size` bytes at `offset`, growing the file when needed.
    Result<void> writeAt(std::uint64_t offset, const void* data, std::size_t size);
    // Cuts or extends the file to `bytes`.
    Result<void> resize(std::uint64_t bytes);
    Result<std::uint64_t> size();
    // Everything written so far reaches the disk.
    Result<void> flush();
    // The bytes written in the range reach the disk (Windows flushes the whole file).
    Result<void> flushRange(std::uint64_t offset, std::uint64_t size);

private:
    FileHold(std::intptr_t native, std::filesystem::path path)
        : native_(native), open_(true), path_(std::move(path)) {}

    // The descriptor (simulated host) or the HANDLE (Windows).
    std::intptr_t native_ = -1;
    bool open_ = false;
    std::filesystem::path path_;
};

} // namespace kv::platform
