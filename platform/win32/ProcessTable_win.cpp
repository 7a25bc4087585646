// The process table through Tool Help (the wide entry records: an 8-bit name would be the ANSI
// look-alike of a letter the code page lacks) and TerminateProcess.

#include "platform/win32/WinBackends.h"

#include <tlhelp32.h>

namespace kv::platform::win32 {

WinProcessTable::~WinProcessTable() {
    for (auto& [id, handle] : handles_)
        CloseHandle(handle);
}

Result<std::vector<ProcessEntry>> WinProcessTable::snapshot() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return lastError("CreateToolhelp32Snapshot");
    std::vector<ProcessEntry> entries;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry))
        entries.push_back({entry.th32ProcessID, fromWide(entry.szExeFile)});
    CloseHandle(snapshot);
    return entries;
}

Result<ProcessHandle> WinProcessTable::openForTerminate(std::uint32_t pid) {
    HANDLE handle = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (!handle)
        return lastError("OpenProcess " + std::to_string(pid));
    std::lock_guard lock(mutex_);
    const auto id = nextHandle_++;
    handles_[id] = handle;
    return ProcessHandle{id};
}

Result<void> WinProcessTable::terminate(ProcessHandle handle, std::uint32_t exitCode) {
    HANDLE native = nullptr;
    {
        std::lock_guard lock(mutex_);
        const auto it = handles_.find(handle.id);
        if (it == handles_.end())
            return errorFrom(ERROR_INVALID_HANDLE, "TerminateProcess");
        native = it->second;
    }
    if (!TerminateProcess(native, exitCode))
        return lastError("TerminateProcess");
    return success();
}

Result<void> WinProcessTable::close(ProcessHandle handle) {
    HANDLE native = nullptr;
    {
        std::lock_guard lock(mutex_);
        const auto it = handles_.find(handle.id);
        if (it == handles_.end())
            return errorFrom(ERROR_INVALID_HANDLE, "CloseHandle");
        native = it->second;
        handles_.erase(it);
    }
    if (!CloseHandle(native))
        return lastError("CloseHandle");
    return success();
}

} // namespace kv::platform::win32
