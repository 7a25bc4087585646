#pragma once
// Files on the machine's drives, addressed by Windows paths ("C:\Kelvora\Data\kelvora_Data.MDF").
//
// Names are UTF-8 and are taken as they are, never through a code page's look-alikes. Names are
// compared without regard to letter case, as Windows does; new names keep the case they
// are given. A file that another program holds open without sharing (the SQL Server's attached
// database files) refuses to be copied from, overwritten, deleted or renamed with
// win::SharingViolation (32). A read-only file refuses to be deleted, copied onto or written with
// win::AccessDenied (5); it may be read, copied from and renamed, and its copies are read-only too.
//
// Error numbers: FileNotFound 2 (the folder exists, the file does not), PathNotFound 3 (a folder
// on the way is missing), AccessDenied 5 (also: a folder where a file is expected), FileExists 80
// (copy with fail-if-exists), AlreadyExists 183 (rename or folder creation onto an existing name),
// SharingViolation 32, InvalidName 123 / BadPathname 161 (a path the simulated host refuses).

#include "platform/Result.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

// Progress of a long copy: bytes copied so far and the size of the file. Called once at the start
// (0, total), after every chunk of ShellCopyChunk bytes (and after the last, shorter one) with the
// bytes done so far, rising; the last call of a successful copy is (total, total).
using CopyProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// The granularity of the shell copy's progress, the same in every backend.
inline constexpr std::uint64_t ShellCopyChunk = 32ull << 20;

// What GetFileAttributesEx tells about a file or folder.
struct FileInfo {
    std::uint64_t size = 0; // 0 for a folder
    std::chrono::system_clock::time_point lastWrite;
    bool folder = false;
    bool readOnly = false;
};

// A program that has a file open, as the Restart Manager lists it (RmGetList).
struct FileHolder {
    std::uint32_t pid = 0;
    // The file-name part of its executable ("sqlservr.exe"); on the simulated host the name
    // /proc gives, as in the process table.
    std::string program;
    // The short name of the service the program runs ("MSSQLSERVER"); empty for a program that
    // is no service.
    std::string service;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // True only for an existing file; a folder of that name does not count. A path that cannot be
    // examined counts as absent.
    virtual bool fileExists(std::string_view path) = 0;
    // True only for an existing folder (drive roots included).
    virtual bool folderExists(std::string_view path) = 0;
    // The size in bytes of an existing file (GetFileAttributesEx); a folder is AccessDenied.
    virtual Result<std::uint64_t> fileSize(std::string_view path) = 0;

    // CopyFile(from, to, failIfExists). The copy keeps the source's last-write time. The target
    // appears complete or not at all.
    virtual Result<void> copyFile(std::string_view from, std::string_view to,
                                  bool failIfExists) = 0;
    // DeleteFile.
    virtual Result<void> deleteFile(std::string_view path) = 0;
    // MoveFile: renames a file or folder; fails with AlreadyExists onto an existing name (a
    // change of letter case only is a rename of the same file and succeeds).
    virtual Result<void> renameFile(std::string_view from, std::string_view to) = 0;
    // CreateDirectory: one level; AlreadyExists if it is there, PathNotFound without the parent.
    virtual Result<void> createFolder(std::string_view path) = 0;
    // SetFileAttributes without the read-only attribute, for a copy the program makes for its own
    // work: the file may be written, replaced and deleted again. A file that is not read-only is
    // left as it is; a file another program holds may still change its attributes; a folder is
    // AccessDenied.
    virtual Result<void> clearReadOnly(std::string_view path) = 0;

    // Whole-file reading and writing for the program's own small files (the activity log).
    // writeFile creates or replaces the file, whole or not at all.
    virtual Result<std::string> readFile(std::string_view path) = 0;
    virtual Result<void> writeFile(std::string_view path, std::string_view contents) = 0;

    // The shell's copy (what SHFileOperation with FO_COPY does): copies one file, replacing an
    // existing target without asking and creating missing target folders; when `to` is an
    // existing folder the file is copied into it under its own name. The target appears complete
    // or not at all, with the source's last-write time. Returns 0 on success, otherwise the
    // nonzero Windows error number of the failing step, the same in every backend: FileNotFound
    // (2) for a missing source, PathNotFound (3) when a folder on its way is missing,
    // AccessDenied (5) for a folder as source, SharingViolation (32) for a held file, DiskFull
    // (112), ... (not SHFileOperation's own DE_ codes such as 1026, which it gives for some of
    // these). The file is copied in chunks of ShellCopyChunk bytes and `progress` (may be empty)
    // hears about each one (see CopyProgress).
    virtual int shellCopy(std::string_view from, std::string_view to,
                          const CopyProgress& progress) = 0;

    // Deletes the file if it is there: "not there" is success, any other failure is returned.
    Result<void> deleteFileIfPresent(std::string_view path);

    // The questions a check asks before it changes anything. A file system that cannot answer
    // one (a decorator in a test that does not pass it on) fails it with NotSupported, and the
    // caller counts the answer as unknown.
    //
    // GetFileAttributesEx: size, last-write time, folder and read-only attribute. A missing
    // file is FileNotFound (PathNotFound when a folder on the way is missing).
    virtual Result<FileInfo> fileInfo(std::string_view path);
    // GetDiskFreeSpaceEx: the bytes this program may still write on the volume of the existing
    // folder `folder` (the free bytes available to the caller, after quotas).
    virtual Result<std::uint64_t> freeSpace(std::string_view folder);
    // The programs that hold `path` open, each once (the Restart Manager's list); empty when
    // nobody does or the file does not exist. A program that holds the file without sharing,
    // as SQL Server holds its attached database files, is always listed.
    virtual Result<std::vector<FileHolder>> fileHolders(std::string_view path);
};

} // namespace kv::platform
