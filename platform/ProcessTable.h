#pragma once
// The process table: a snapshot of the running processes (Tool Help) and termination of one
// process (OpenProcess with PROCESS_TERMINATE, TerminateProcess, CloseHandle).
//
// Only the process that is asked for is ever touched: a handle stays bound to the very process it
// was opened for, even if that process ends and its id is reused before terminate() runs.

#include "platform/Result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv::platform {

struct ProcessEntry {
    std::uint32_t pid = 0;
    // PROCESSENTRY32.szExeFile: the file-name part of the executable ("Lunta33.exe"). On the
    // simulated host: the file name of /proc/PID/exe's target, or of the first command-line
    // argument when the link cannot be read (another user's process, a kernel thread).
    std::string exeFile;
};

struct ProcessHandle {
    std::uint64_t id = 0;
    explicit operator bool() const { return id != 0; }
    friend bool operator==(ProcessHandle, ProcessHandle) = default;
};

class ProcessTable {
public:
    virtual ~ProcessTable() = default;

    // Every process visible at the moment of the call.
    virtual Result<std::vector<ProcessEntry>> snapshot() = 0;
    // OpenProcess(PROCESS_TERMINATE, FALSE, pid). A process that is gone: InvalidParameter
    // (as Windows reports it); one that may not be signalled: AccessDenied.
    virtual Result<ProcessHandle> openForTerminate(std::uint32_t pid) = 0;
    // TerminateProcess(handle, exitCode). The simulated host ends the process with SIGKILL, which
    // like TerminateProcess cannot be caught; the exit code cannot be passed on POSIX (the
    // process's parent sees "killed by signal 9").
    virtual Result<void> terminate(ProcessHandle handle, std::uint32_t exitCode) = 0;
    // CloseHandle.
    virtual Result<void> close(ProcessHandle handle) = 0;
};

} // namespace kv::platform
