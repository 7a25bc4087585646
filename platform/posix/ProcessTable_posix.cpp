// The process table of the simulated host is the real one of this machine (/proc). Termination
// goes through a pidfd where the kernel has one, so a handle can only ever reach the process it
// was opened for; otherwise the process's start time is checked right before the signal.

#include "platform/posix/HostFiles.h"
#include "platform/posix/SimBackends.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fstream>
#include <sys/syscall.h>
#include <unistd.h>

namespace kv::platform::sim {

using namespace detail;

namespace {

int pidfdOpen(int pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

int pidfdSendSignal(int pidfd, int sig) {
#ifdef SYS_pidfd_send_signal
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
#else
    (void)pidfd;
    (void)sig;
    errno = ENOSYS;
    return -1;
#endif
}

} // namespace

SimProcessTable::~SimProcessTable() {
    for (auto& [id, open] : handles_)
        if (open.pidfd >= 0)
            ::close(open.pidfd);
}

Result<std::vector<ProcessEntry>> SimProcessTable::snapshot() {
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return errnoError(errno, "cannot read the process table /proc");
    std::vector<ProcessEntry> entries;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string_view name = entry->d_name;
        const auto pid = parseNumber(name);
        if (!pid || name.starts_with("0"))
            continue;
        auto exe = executableName("/proc/" + std::string(name));
        if (exe.empty() && !readProcStat(static_cast<int>(*pid)))
            continue; // ended while we looked
        entries.push_back({*pid, std::move(exe)});
    }
    ::closedir(proc);
    return entries;
}

Result<ProcessHandle> SimProcessTable::openForTerminate(std::uint32_t pid) {
    if (host_) {
        SimHost current = *host_;
        if (current.reload()) {
            const auto fault = current.setting("fail_open_process");
            const auto code = fault ? parseNumber(*fault) : std::nullopt;
            if (code && *code != 0)
                return Error{*code,
                             "injected fault fail_open_process for process " + std::to_string(pid)};
        }
    }
    if (pid == 0 || pid > 0x7fffffff)
        return Error{win::InvalidParameter, "no process " + std::to_string(pid)};
    const int id = static_cast<int>(pid);
    const auto stat = readProcStat(id);
    if (!stat || stat->state == 'Z')
        return Error{win::InvalidParameter, "no process " + std::to_string(pid)};
    if (::kill(id, 0) != 0)
        return errno == EPERM
                   ? Error{win::AccessDenied, "may not end process " + std::to_string(pid)}
                   : Error{win::InvalidParameter, "no process " + std::to_string(pid)};
    OpenProcess open{id, pidfdOpen(id), stat->startTime};
    if (open.pidfd < 0 && errno == ESRCH)
        return Error{win::InvalidParameter, "no process " + std::to_string(pid)};
    // A pidfd opened after the id was reused would name the newcomer: check the start time
    // once more now that the descriptor pins the process.
    const auto again = readProcStat(id);
    if (!again || again->startTime != stat->startTime) {
        if (open.pidfd >= 0)
            ::close(open.pidfd);
        return Error{win::InvalidParameter, "no process " + std::to_string(pid)};
    }
    std::lock_guard lock(mutex_);
    const auto handle = nextHandle_++;
    handles_[handle] = open;
    return ProcessHandle{handle};
}

Result<void> SimProcessTable::terminate(ProcessHandle handle, std::uint32_t /*exitCode*/) {
    OpenProcess open;
    {
        std::lock_guard lock(mutex_);
        const auto it = handles_.find(handle.id);
        if (it == handles_.end())
            return Error{win::InvalidHandle, "not an open process handle"};
        open = it->second;
    }
    int result;
    if (open.pidfd >= 0) {
        result = pidfdSendSignal(open.pidfd, SIGKILL);
    } else {
        const auto stat = readProcStat(open.pid);
        if (!stat || stat->startTime != open.startTime || stat->state == 'Z') {
            errno = ESRCH;
            result = -1;
        } else {
            result = ::kill(open.pid, SIGKILL);
        }
    }
    if (result != 0) {
        // Windows refuses TerminateProcess on a process that has already ended with access
        // denied; the same answer here.
        return Error{win::AccessDenied,
                     "cannot end process " + std::to_string(open.pid) +
                         (errno == ESRCH ? ": it has already ended" : ": not permitted")};
    }
    return success();
}

Result<void> SimProcessTable::close(ProcessHandle handle) {
    std::lock_guard lock(mutex_);
    const auto it = handles_.find(handle.id);
    if (it == handles_.end())
        return Error{win::InvalidHandle, "not an open process handle"};
    if (it->second.pidfd >= 0)
        ::close(it->second.pidfd);
    handles_.erase(it);
    return success();
}

} // namespace kv::platform::sim
