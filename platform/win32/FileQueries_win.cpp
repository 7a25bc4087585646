// The questions about files that change nothing: attributes and times (GetFileAttributesEx),
// the free space of a volume (GetDiskFreeSpaceEx) and the programs that have a file open (the
// Restart Manager, rstrtmgr.dll, which also names the service a program runs).

#include "platform/win32/WinBackends.h"

#include <iterator>
#include <restartmanager.h>
#include <vector>

namespace kv::platform::win32 {

namespace {

// FILETIME counts 100 ns steps since 1601-01-01 UTC; the system clock counts from 1970.
std::chrono::system_clock::time_point fromFileTime(const FILETIME& time) {
    constexpr std::uint64_t From1601To1970 = 116444736000000000ull;
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    const auto since1970 =
        static_cast<std::int64_t>(ticks) - static_cast<std::int64_t>(From1601To1970);
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>(since1970)));
}

// The file-name part of a process's executable, or empty when the process may not be asked.
std::string programOf(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return {};
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = static_cast<DWORD>(std::size(path));
    std::string name;
    if (QueryFullProcessImageNameW(process, 0, path, &size)) {
        std::wstring_view full(path, size);
        const auto sep = full.find_last_of(L"\\/");
        name = fromWide(sep == std::wstring_view::npos ? full : full.substr(sep + 1));
    }
    CloseHandle(process);
    return name;
}

} // namespace

Result<FileInfo> WinFileSystem::fileInfo(std::string_view path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(toWide(path).c_str(), GetFileExInfoStandard, &data))
        return lastError("GetFileAttributesEx " + std::string(path));
    FileInfo info;
    info.folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.readOnly = !info.folder && (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    info.size = info.folder
                    ? 0
                    : (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.lastWrite = fromFileTime(data.ftLastWriteTime);
    return info;
}

Result<std::uint64_t> WinFileSystem::freeSpace(std::string_view folder) {
    std::wstring name = toWide(folder);
    // The function wants a folder; "C:" alone would mean the current folder of drive C.
    if (name.empty() || (name.back() != L'\\' && name.back() != L'/'))
        name += L'\\';
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(name.c_str(), &available, nullptr, nullptr))
        return lastError("GetDiskFreeSpaceEx " + std::string(folder));
    return static_cast<std::uint64_t>(available.QuadPart);
}

Result<std::vector<FileHolder>> WinFileSystem::fileHolders(std::string_view path) {
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (const DWORD started = RmStartSession(&session, 0, key); started != ERROR_SUCCESS)
        return errorFrom(started, "RmStartSession");
    struct EndSession {
        DWORD session;
        ~EndSession() { RmEndSession(session); }
    } end{session};

    const std::wstring file = toWide(path);
    LPCWSTR files[] = {file.c_str()};
    if (const DWORD registered = RmRegisterResources(session, 1, files, 0, nullptr, 0, nullptr);
        registered != ERROR_SUCCESS)
        return errorFrom(registered, "RmRegisterResources " + std::string(path));

    // The list can grow between the two calls; ask again until it fits.
    std::vector<RM_PROCESS_INFO> infos;
    UINT count = 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        UINT needed = 0;
        count = static_cast<UINT>(infos.size());
        DWORD reasons = 0;
        const DWORD listed =
            RmGetList(session, &needed, &count, infos.empty() ? nullptr : infos.data(), &reasons);
        if (listed == ERROR_SUCCESS)
            break;
        if (listed != ERROR_MORE_DATA)
            return errorFrom(listed, "RmGetList " + std::string(path));
        infos.resize(needed);
        count = 0;
    }
    std::vector<FileHolder> holders;
    for (UINT i = 0; i < count && i < infos.size(); ++i) {
        FileHolder holder;
        holder.pid = infos[i].Process.dwProcessId;
        holder.program = programOf(holder.pid);
        if (holder.program.empty())
            holder.program = fromWide(infos[i].strAppName);
        if (infos[i].ApplicationType == RmService)
            holder.service = fromWide(infos[i].strServiceShortName);
        holders.push_back(std::move(holder));
    }
    return holders;
}

} // namespace kv::platform::win32
