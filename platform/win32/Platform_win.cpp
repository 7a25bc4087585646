// The platform object of a Windows machine, and its code page.

#include "platform/Platform.h"
#include "platform/win32/WinBackends.h"

namespace kv::platform {

namespace win32 {

std::uint32_t WinCodePage::number() const {
    return GetACP();
}

std::string WinCodePage::fromUtf8(std::string_view utf8) const {
    return toAnsi(utf8);
}

std::string WinCodePage::toUtf8(std::string_view ansi) const {
    return fromAnsi(ansi);
}

namespace {

class WinPlatform final : public Platform {
public:
    ServiceManager& services() override { return services_; }
    ProcessTable& processes() override { return processes_; }
    FileSystem& files() override { return files_; }
    Registry& registry() override { return registry_; }
    Clock& clock() override { return clock_; }
    const CodePage& codePage() override { return codePage_; }

    std::string computerName() override {
        char buffer[256] = {};
        DWORD size = sizeof buffer;
        if (!GetComputerNameA(buffer, &size))
            return {};
        return fromAnsi(std::string_view(buffer, size));
    }

    DiscoveryTarget discoveryTarget() override { return {"255.255.255.255", 1434, true}; }

private:
    WinServiceManager services_;
    WinProcessTable processes_;
    WinFileSystem files_;
    WinRegistry registry_;
    SystemClock clock_;
    WinCodePage codePage_;
};

} // namespace

} // namespace win32

std::unique_ptr<Platform> createPlatform() {
    return std::make_unique<win32::WinPlatform>();
}

} // namespace kv::platform
