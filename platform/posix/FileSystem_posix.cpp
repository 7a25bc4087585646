// Files of the simulated host: Windows paths resolved onto drive_c/ (SimHost::resolve), held
// files refused with a sharing violation (FileHold.h), Windows error numbers throughout.
//
// Copies go to a temporary file beside the target and are renamed into place, so a target is
// complete or absent. The data moves through copy_file_range (the kernel copies, or the file
// system clones), falling back to sendfile and then to read/write where those are not supported,
// in chunks so that the shell copy can report progress.

#include "platform/Diagnostics.h"
#include "platform/posix/FileHold.h"
#include "platform/posix/HostFiles.h"
#include "platform/posix/SimBackends.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <random>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kv::platform::sim {

namespace fs = std::filesystem;
using namespace detail;

namespace {

constexpr std::uint64_t ChunkSize = ShellCopyChunk; // progress granularity of big copies

// ENOENT on `path`: FileNotFound when its folder exists, PathNotFound when it does not.
Error missing(const fs::path& path, std::string_view windowsPath) {
    struct stat st {};
    const bool parentThere = ::stat(path.parent_path().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    return Error{parentThere ? win::FileNotFound : win::PathNotFound,
                 std::string(parentThere ? "the file " : "the path ") + std::string(windowsPath) +
                     " does not exist"};
}

Error fromErrnoAt(int err, const fs::path& path, std::string_view windowsPath, const char* action) {
    if (err == ENOENT)
        return missing(path, windowsPath);
    return errnoError(err, std::string("cannot ") + action + " " + std::string(windowsPath));
}

Error held(std::string_view windowsPath) {
    return Error{win::SharingViolation,
                 "the file " + std::string(windowsPath) + " is in use by another program"};
}

// The read-only attribute of a file is the missing owner write permission. It is checked here
// rather than left to the kernel, which lets root write anyway: like Windows, a read-only file
// refuses to be deleted, overwritten or replaced (also by a rename onto it), while renaming it
// elsewhere and reading it are allowed.
bool readOnly(const struct stat& st) {
    return S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

Error readOnlyRefused(std::string_view windowsPath) {
    return Error{win::AccessDenied, "the file " + std::string(windowsPath) + " is read-only"};
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// Moves `size` bytes from `in` to `out` (both at offset 0), reporting after every chunk.
// Returns 0 or an errno value. With `stopAt` below `size` only that many bytes are moved (and
// reported, against the whole size): the part of a copy that a fault interrupts.
int copyData(int in, int out, std::uint64_t size, const CopyProgress& progress,
             std::uint64_t stopAt = UINT64_MAX) {
    if (progress)
        progress(0, size);
    const std::uint64_t whole = size;
    size = std::min(size, stopAt);
    // A file system that shares extents between files (Btrfs, XFS) copies in an instant.
    // The progress still hears every chunk, as from a copy made piece by piece.
    if (size == whole && size > 0 && ::ioctl(out, FICLONE, in) == 0) {
        if (progress)
            for (std::uint64_t done = 0; done < size;) {
                done = std::min(size, done + ChunkSize);
                progress(done, size);
            }
        return 0;
    }
    std::uint64_t done = 0;
    enum class Way { CopyRange, SendFile, ReadWrite } way = Way::CopyRange;
    std::vector<char> buffer;
    while (done < size) {
        const std::uint64_t want = std::min(ChunkSize, size - done);
        std::uint64_t chunkDone = 0;
        while (chunkDone < want) {
            const auto left = static_cast<std::size_t>(want - chunkDone);
            ssize_t n = -1;
            if (way == Way::CopyRange) {
                loff_t inOffset = static_cast<loff_t>(done + chunkDone);
                loff_t outOffset = inOffset;
                n = ::copy_file_range(in, &inOffset, out, &outOffset, left, 0);
                if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                              errno == EOPNOTSUPP || errno == EPERM)) {
                    way = Way::SendFile;
                    continue;
                }
            } else if (way == Way::SendFile) {
                if (::lseek(out, static_cast<off_t>(done + chunkDone), SEEK_SET) < 0)
                    return errno;
                off_t inOffset = static_cast<off_t>(done + chunkDone);
                n = ::sendfile(out, in, &inOffset, left);
                if (n < 0 && (errno == EINVAL || errno == ENOSYS)) {
                    way = Way::ReadWrite;
                    continue;
                }
            } else {
                if (buffer.empty()) {
                    buffer.resize(1 << 20);
                    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
                }
                const auto offset = static_cast<off_t>(done + chunkDone);
                n = ::pread(in, buffer.data(), std::min(left, buffer.size()), offset);
                if (n > 0) {
                    for (ssize_t written = 0; written < n;) {
                        const ssize_t w =
                            ::pwrite(out, buffer.data() + written,
                                     static_cast<std::size_t>(n - written), offset + written);
                        if (w < 0) {
                            if (errno == EINTR)
                                continue;
                            return errno;
                        }
                        written += w;
                    }
                }
            }
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            if (n == 0)
                return EIO; // the source shrank while it was copied
            chunkDone += static_cast<std::uint64_t>(n);
        }
        done += chunkDone;
        if (progress)
            progress(done, whole);
    }
    return 0;
}

fs::path temporaryBeside(const fs::path& target) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char name[64];
    std::snprintf(name, sizeof name, ".~kvcopy-%d-%llx.tmp", static_cast<int>(::getpid()),
                  static_cast<unsigned long long>(random()));
    return target.parent_path() / name;
}

struct CopyRequest {
    std::string_view from;
    std::string_view to;
    bool failIfExists = false;
    bool createFolders = false;
    bool intoFolder = false; // an existing folder as target takes the file under its own name
    // host.conf's fail_copy_after: the copy fails with `code` once `bytes` of it are written.
    std::optional<std::pair<ErrorCode, std::uint64_t>> failAfter;
};

Result<void> copyOne(const SimHost& host, const CopyRequest& request,
                     const CopyProgress& progress) {
    auto source = host.resolve(request.from);
    if (!source)
        return source.error();
    auto target = host.resolve(request.to);
    if (!target)
        return target.error();

    Fd in(::open(source->c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return fromErrnoAt(errno, *source, request.from, "open");
    struct stat sourceStat {};
    if (::fstat(in.get(), &sourceStat) != 0)
        return fromErrnoAt(errno, *source, request.from, "examine");
    if (!S_ISREG(sourceStat.st_mode))
        return Error{win::AccessDenied, std::string(request.from) + " is a folder, not a file"};
    if (isHeld(*source))
        return held(request.from);

    struct stat targetStat {};
    if (::stat(target->c_str(), &targetStat) == 0) {
        if (S_ISDIR(targetStat.st_mode) && request.intoFolder) {
            // Into the folder under the source's name, found there without regard to case.
            auto inside =
                host.resolve(std::string(request.to) + "\\" + source->filename().string());
            if (!inside)
                return inside.error();
            *target = *inside;
        }
    }
    bool targetExists = false;
    if (::stat(target->c_str(), &targetStat) == 0) {
        targetExists = true;
        if (S_ISDIR(targetStat.st_mode))
            return Error{win::AccessDenied, std::string(request.to) + " is a folder"};
        if (targetStat.st_dev == sourceStat.st_dev && targetStat.st_ino == sourceStat.st_ino)
            return Error{win::SharingViolation,
                         "cannot copy " + std::string(request.from) + " onto itself"};
        if (request.failIfExists)
            return Error{win::FileExists,
                         "the file " + std::string(request.to) + " already exists"};
        if (isHeld(*target))
            return held(request.to);
        if (readOnly(targetStat))
            return readOnlyRefused(request.to);
    }
    if (request.createFolders) {
        std::error_code ec;
        fs::create_directories(target->parent_path(), ec);
    }
    const auto temp = temporaryBeside(*target);
    Fd out(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (out.get() < 0) {
        if (errno == ENOENT)
            return Error{win::PathNotFound,
                         "the folder of " + std::string(request.to) + " does not exist"};
        return errnoError(errno, "cannot create the copy " + std::string(request.to));
    }
    const auto size = static_cast<std::uint64_t>(sourceStat.st_size);
    const bool interrupted = request.failAfter && size > request.failAfter->second;
    if (const int err = copyData(in.get(), out.get(), size, progress,
                                 interrupted ? request.failAfter->second : UINT64_MAX)) {
        ::unlink(temp.c_str());
        return errnoError(err, "cannot copy " + std::string(request.from) + " to " +
                                   std::string(request.to));
    }
    if (interrupted) {
        // The part written goes with the failure, as the temporary copy of any failed copy does.
        ::unlink(temp.c_str());
        return Error{request.failAfter->first,
                     "injected fault fail_copy_after: the copy of " + std::string(request.from) +
                         " stopped after " + std::to_string(request.failAfter->second) + " bytes"};
    }
    ::fchmod(out.get(), sourceStat.st_mode & 07777);
    const timespec times[2] = {sourceStat.st_atim, sourceStat.st_mtim};
    ::futimens(out.get(), times);
    if (::close(out.release()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        return errnoError(err, "cannot finish the copy " + std::string(request.to));
    }
    int renamed;
    if (request.failIfExists || !targetExists) {
        renamed = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target->c_str(), RENAME_NOREPLACE);
        if (renamed != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without RENAME_NOREPLACE: link() refuses an existing name as well.
            renamed = ::link(temp.c_str(), target->c_str());
            if (renamed == 0)
                ::unlink(temp.c_str());
        }
    } else {
        // Held since the check above? Then the hold goes on the replaced file; refuse instead.
        if (isHeld(*target)) {
            ::unlink(temp.c_str());
            return held(request.to);
        }
        // The copy and the old file change places, and the old one goes: as atomic as a rename
        // over it, but ext4 writes a file renamed over another one to disk first (its
        // auto_da_alloc guard), which would cost as much again as the copy itself.
        renamed = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target->c_str(), RENAME_EXCHANGE);
        if (renamed == 0)
            ::unlink(temp.c_str());
        else
            renamed = ::rename(temp.c_str(), target->c_str());
    }
    if (renamed != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        if (err == EEXIST)
            return Error{request.failIfExists ? win::FileExists : win::AlreadyExists,
                         "the file " + std::string(request.to) + " already exists"};
        return errnoError(err, "cannot put the copy in place as " + std::string(request.to));
    }
    return success();
}

// The last component of a Windows path as spelled (trailing dots and blanks dropped).
std::string spelledName(std::string_view path) {
    while (!path.empty() && (path.back() == '\\' || path.back() == '/'))
        path.remove_suffix(1);
    const auto sep = path.find_last_of("\\/:");
    std::string name(sep == std::string_view::npos ? path : path.substr(sep + 1));
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    return name;
}

} // namespace

namespace {

// A Windows path for comparison: ASCII letters folded, both separators alike.
std::string comparable(std::string_view path) {
    std::string out(path);
    for (auto& c : out) {
        if (c == '/')
            c = '\\';
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The fault settings of host.conf are words apart by blanks: a code, maybe a number, and maybe
// the path (blanks allowed) that limits the fault to the calls naming it.
std::string_view skipBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

// The next word of `text`, taken off its front.
std::string_view takeWord(std::string_view& text) {
    text = skipBlanks(text);
    const auto end = std::min(text.find_first_of(" \t"), text.size());
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

// Whether a fault limited to the path `only` (empty: to none) is for a call that names `path`
// or `other` (the other side of a copy or rename, empty for none), letter case aside.
bool faultNames(std::string_view only, std::string_view path, std::string_view other) {
    return only.empty() || comparable(only) == comparable(path) ||
           (!other.empty() && comparable(only) == comparable(other));
}

} // namespace

std::optional<Error> SimFileSystem::injectedFault(const char* key, std::string_view path,
                                                  std::string_view other) {
    SimHost current = host_;
    if (!current.reload())
        return std::nullopt;
    const auto value = current.setting(key);
    if (!value)
        return std::nullopt;
    // "CODE" fails every call; "CODE PATH" only the calls that name PATH (either side of a copy
    // or rename), compared without regard to letter case.
    std::string_view text = *value;
    const auto code = parseNumber(takeWord(text));
    if (!code || *code == 0 || !faultNames(skipBlanks(text), path, other))
        return std::nullopt;
    return Error{*code, std::string("injected fault ") + key + " for " + std::string(path)};
}

std::optional<std::pair<ErrorCode, std::uint64_t>>
SimFileSystem::interruptedCopy(std::string_view from, std::string_view to) {
    SimHost current = host_;
    if (!current.reload())
        return std::nullopt;
    const auto value = current.setting("fail_copy_after");
    if (!value)
        return std::nullopt;
    // "CODE BYTES" interrupts every copy larger than BYTES; "CODE BYTES PATH" only the copies
    // that name PATH on either side.
    std::string_view text = *value;
    const auto code = parseNumber(takeWord(text));
    const std::string_view count = takeWord(text);
    std::uint64_t bytes = 0;
    const auto [end, parsed] = std::from_chars(count.data(), count.data() + count.size(), bytes);
    if (!code || *code == 0 || count.empty() || parsed != std::errc() ||
        end != count.data() + count.size() || !faultNames(skipBlanks(text), from, to))
        return std::nullopt;
    return std::pair<ErrorCode, std::uint64_t>{static_cast<ErrorCode>(*code), bytes};
}

std::optional<Error> SimFileSystem::diskFull(std::string_view from, std::string_view to) {
    SimHost current = host_;
    if (!current.reload())
        return std::nullopt;
    const auto free = current.diskFree();
    auto size = fileSize(from);
    if (!free || !size || *size <= *free)
        return std::nullopt;
    return Error{win::DiskFull, "there is not enough space on the disk for " + std::string(to)};
}

bool SimFileSystem::fileExists(std::string_view path) {
    auto real = host_.resolve(path);
    struct stat st {};
    return real && ::stat(real->c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool SimFileSystem::folderExists(std::string_view path) {
    auto real = host_.resolve(path);
    struct stat st {};
    return real && ::stat(real->c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Result<std::uint64_t> SimFileSystem::fileSize(std::string_view path) {
    auto real = host_.resolve(path);
    if (!real)
        return real.error();
    struct stat st {};
    if (::stat(real->c_str(), &st) != 0)
        return fromErrnoAt(errno, *real, path, "examine");
    if (!S_ISREG(st.st_mode))
        return Error{win::AccessDenied, std::string(path) + " is a folder, not a file"};
    return static_cast<std::uint64_t>(st.st_size);
}

Result<void> SimFileSystem::copyFile(std::string_view from, std::string_view to,
                                     bool failIfExists) {
    if (auto fault = injectedFault("fail_copy_file", from, to))
        return *fault;
    if (auto full = diskFull(from, to))
        return *full;
    return copyOne(
        host_, CopyRequest{from, to, failIfExists, false, false, interruptedCopy(from, to)}, {});
}

int SimFileSystem::shellCopy(std::string_view from, std::string_view to,
                             const CopyProgress& progress) {
    if (auto fault = injectedFault("fail_shell_copy", from, to))
        return static_cast<int>(fault->code);
    if (auto full = diskFull(from, to))
        return static_cast<int>(full->code);
    auto result = copyOne(
        host_, CopyRequest{from, to, false, true, true, interruptedCopy(from, to)}, progress);
    return static_cast<int>(result.code());
}

Result<void> SimFileSystem::deleteFile(std::string_view path) {
    if (auto fault = injectedFault("fail_delete_file", path))
        return *fault;
    auto real = host_.resolve(path);
    if (!real)
        return real.error();
    struct stat st {};
    if (::lstat(real->c_str(), &st) != 0)
        return fromErrnoAt(errno, *real, path, "delete");
    if (S_ISDIR(st.st_mode))
        return Error{win::AccessDenied, std::string(path) + " is a folder, not a file"};
    if (isHeld(*real))
        return held(path);
    if (readOnly(st))
        return readOnlyRefused(path);
    if (::unlink(real->c_str()) != 0)
        return fromErrnoAt(errno, *real, path, "delete");
    return success();
}

Result<void> SimFileSystem::renameFile(std::string_view from, std::string_view to) {
    if (auto fault = injectedFault("fail_rename_file", from, to))
        return *fault;
    auto source = host_.resolve(from);
    if (!source)
        return source.error();
    auto target = host_.resolve(to);
    if (!target)
        return target.error();
    struct stat st {};
    if (::lstat(source->c_str(), &st) != 0)
        return fromErrnoAt(errno, *source, from, "rename");
    if (S_ISREG(st.st_mode) && isHeld(*source))
        return held(from);
    if (*source == *target) {
        // The same entry: only the letter case changes (or nothing at all).
        const auto spelled = spelledName(to);
        if (spelled == source->filename().string())
            return success();
        *target = source->parent_path() / spelled;
        if (::rename(source->c_str(), target->c_str()) != 0)
            return fromErrnoAt(errno, *source, from, "rename");
        return success();
    }
    struct stat targetStat {};
    if (::lstat(target->c_str(), &targetStat) == 0)
        return Error{win::AlreadyExists, "cannot rename " + std::string(from) + ": " +
                                             std::string(to) + " already exists"};
    int renamed =
        ::renameat2(AT_FDCWD, source->c_str(), AT_FDCWD, target->c_str(), RENAME_NOREPLACE);
    if (renamed != 0 && (errno == EINVAL || errno == ENOSYS) && S_ISREG(st.st_mode)) {
        renamed = ::link(source->c_str(), target->c_str());
        if (renamed == 0)
            ::unlink(source->c_str());
    }
    if (renamed != 0) {
        const int err = errno;
        if (err == EEXIST)
            return Error{win::AlreadyExists, std::string(to) + " already exists"};
        if (err == ENOENT)
            return Error{win::PathNotFound, "the folder of " + std::string(to) + " does not exist"};
        return errnoError(err, "cannot rename " + std::string(from) + " to " + std::string(to));
    }
    return success();
}

Result<void> SimFileSystem::createFolder(std::string_view path) {
    auto real = host_.resolve(path);
    if (!real)
        return real.error();
    if (::mkdir(real->c_str(), 0755) != 0) {
        if (errno == ENOENT)
            return Error{win::PathNotFound,
                         "the folder above " + std::string(path) + " does not exist"};
        return errnoError(errno, "cannot create the folder " + std::string(path));
    }
    return success();
}

Result<void> SimFileSystem::clearReadOnly(std::string_view path) {
    auto real = host_.resolve(path);
    if (!real)
        return real.error();
    struct stat st {};
    if (::stat(real->c_str(), &st) != 0)
        return fromErrnoAt(errno, *real, path, "change the attributes of");
    if (S_ISDIR(st.st_mode))
        return Error{win::AccessDenied, std::string(path) + " is a folder, not a file"};
    if (!readOnly(st))
        return success();
    if (::chmod(real->c_str(), (st.st_mode & 07777) | S_IWUSR) != 0)
        return fromErrnoAt(errno, *real, path, "change the attributes of");
    return success();
}

Result<std::string> SimFileSystem::readFile(std::string_view path) {
    auto real = host_.resolve(path);
    if (!real)
        return real.error();
    struct stat st {};
    if (::stat(real->c_str(), &st) != 0)
        return fromErrnoAt(errno, *real, path, "read");
    if (!S_ISREG(st.st_mode))
        return Error{win::AccessDenied, std::string(path) + " is a folder, not a file"};
    if (isHeld(*real))
        return held(path);
    return readWholeFile(*real);
}

Result<void> SimFileSystem::writeFile(std::string_view path, std::string_view contents) {
    auto real = host_.resolve(path);
    if (!real)
        return real.error();
    struct stat st {};
    if (::stat(real->c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return Error{win::AccessDenied, std::string(path) + " is a folder"};
        if (isHeld(*real))
            return held(path);
        if (readOnly(st))
            return readOnlyRefused(path);
    } else if (::stat(real->parent_path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Error{win::PathNotFound, "the folder of " + std::string(path) + " does not exist"};
    }
    return writeFileAtomically(*real, contents, false);
}

Result<FileInfo> SimFileSystem::fileInfo(std::string_view path) {
    auto real = host_.resolve(path);
    if (!real)
        return real.error();
    struct stat st {};
    if (::stat(real->c_str(), &st) != 0)
        return fromErrnoAt(errno, *real, path, "examine");
    FileInfo info;
    info.folder = S_ISDIR(st.st_mode);
    info.size = info.folder ? 0 : static_cast<std::uint64_t>(st.st_size);
    info.readOnly = readOnly(st);
    info.lastWrite = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(st.st_mtim.tv_sec) +
            std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    return info;
}

Result<std::uint64_t> SimFileSystem::freeSpace(std::string_view folder) {
    auto real = host_.resolve(folder);
    if (!real)
        return real.error();
    struct stat st {};
    if (::stat(real->c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return Error{win::PathNotFound, "the folder " + std::string(folder) + " does not exist"};
    SimHost current = host_;
    if (current.reload())
        if (const auto limit = current.diskFree())
            return *limit;
    struct statvfs vfs {};
    if (::statvfs(real->c_str(), &vfs) != 0)
        return errnoError(errno, "cannot read the free space of " + std::string(folder));
    return static_cast<std::uint64_t>(vfs.f_bavail) * static_cast<std::uint64_t>(vfs.f_frsize);
}

namespace {

// The services of the host whose process runs now, by process id.
std::map<int, std::string> runningServices(const SimHost& host) {
    std::map<int, std::string> services;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(host.servicesFolder(), ec)) {
        if (entry.path().extension() != ".service")
            continue;
        const std::string name = entry.path().stem().string();
        auto text = readWholeFile(host.pidFile(name));
        if (!text)
            continue;
        const auto record = parsePidFile(*text, host.pidFile(name));
        if (!record)
            continue;
        const auto stat = readProcStat(record->pid);
        if (stat && (record->startTime == 0 || stat->startTime == record->startTime))
            services.emplace(record->pid, name);
    }
    return services;
}

// Whether the descriptor /proc/PID/fd/FD carries an exclusive flock (its fdinfo's lock lines).
bool holdsWriteLock(const std::string& procDir, const char* fd) {
    std::ifstream info(procDir + "/fdinfo/" + fd);
    std::string line;
    while (std::getline(info, line))
        if (line.starts_with("lock:") && line.find("FLOCK") != std::string::npos &&
            line.find("WRITE") != std::string::npos)
            return true;
    return false;
}

} // namespace

Result<std::vector<FileHolder>> SimFileSystem::fileHolders(std::string_view path) {
    auto real = host_.resolve(path);
    if (!real)
        return real.error();
    std::vector<FileHolder> holders;
    struct stat file {};
    // Nobody holds a file that is not there; a file that is not held needs no search of /proc.
    if (::stat(real->c_str(), &file) != 0 || !S_ISREG(file.st_mode) || !isHeld(*real))
        return holders;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return errnoError(errno, "cannot read the process table /proc");
    std::map<int, std::string> services;
    bool servicesRead = false;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string name = entry->d_name;
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string procDir = "/proc/" + name;
        DIR* fds = ::opendir((procDir + "/fd").c_str());
        if (!fds)
            continue; // gone, or another user's process
        bool holds = false;
        while (const dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.')
                continue;
            struct stat open {};
            if (::stat((procDir + "/fd/" + fd->d_name).c_str(), &open) == 0 &&
                open.st_dev == file.st_dev && open.st_ino == file.st_ino &&
                holdsWriteLock(procDir, fd->d_name)) {
                holds = true;
                break;
            }
        }
        ::closedir(fds);
        if (!holds)
            continue;
        if (!servicesRead) {
            services = runningServices(host_);
            servicesRead = true;
        }
        FileHolder holder;
        holder.pid = static_cast<std::uint32_t>(std::stoul(name));
        holder.program = executableName(procDir);
        if (const auto service = services.find(static_cast<int>(holder.pid));
            service != services.end())
            holder.service = service->second;
        holders.push_back(std::move(holder));
    }
    ::closedir(proc);
    return holders;
}

} // namespace kv::platform::sim
