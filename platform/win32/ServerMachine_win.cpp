// This computer as the machine of a server program.

#include "platform/ServerMachine.h"
#include "platform/win32/WinText.h"

namespace kv::platform {

namespace {

// "C:\..." or "C:/...": a drive letter, a colon and a separator.
bool absoluteDrivePath(std::string_view path) {
    return path.size() >= 3 &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

class WinMachine final : public ServerMachine::Backend {
public:
    std::string computerName() const override {
        wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
        if (!GetComputerNameW(buffer, &size))
            return {};
        std::string name = win32::fromWide(std::wstring_view(buffer, size));
        for (char& c : name)
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
        return name;
    }
    std::uint32_t codePage() const override { return GetACP(); }
    DiscoveryTarget discoveryListen() const override { return {"127.0.0.1", 1434, false}; }
    Result<std::filesystem::path> resolve(std::string_view windowsPath) const override {
        if (!absoluteDrivePath(windowsPath))
            return Error{win::BadPathname, "\"" + std::string(windowsPath) +
                                               "\" is not an absolute path with a drive"};
        return std::filesystem::path(win32::toWide(windowsPath));
    }
    std::optional<std::uint64_t> diskFree() const override { return std::nullopt; }
    std::optional<std::filesystem::path> clientConfigFile() const override { return std::nullopt; }
};

} // namespace

Result<ServerMachine> openServerMachine(const std::string&) {
    return ServerMachine(std::make_shared<WinMachine>());
}

} // namespace kv::platform
