// The platform object of a Windows machine, and its code page.

#include "platform/Platform.h"
#include "platform/win32/WinBackends.h"

namespace kv::platform {

namespace win32 {

WinCodePage::WinCodePage(std::uint32_t number) : number_(number == 0 ? GetACP() : number) {
    CPINFO info{};
    if (!IsValidCodePage(number_) || !GetCPInfo(number_, &info))
        throw PlatformError("the code page " + std::to_string(number_) +
                            " is not installed on this system");
    singleByte_ = info.MaxCharSize == 1;
    c1Undefined_ = number_ == 874 || (number_ >= 1250 && number_ <= 1258);
    if (!singleByte_)
        return;
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        wchar_t wide = 0;
        const int got = MultiByteToWideChar(number_, MB_ERR_INVALID_CHARS, &byte, 1, &wide, 1);
        const bool hole = got != 1 || (b >= 0x80 && c1Undefined_ && wide >= 0x80 && wide <= 0x9F);
        bytes_[b] = hole ? std::string("?") : fromWide(std::wstring_view(&wide, 1));
    }
}

std::string WinCodePage::fromUtf8(std::string_view utf8) const {
    // Invalid UTF-8 arrives as U+FFFD, which no 8-bit code page has. Characters outside the
    // Basic Multilingual Plane and the holes of the page become "?" before the system sees them.
    std::wstring wide = toWide(utf8);
    if (number_ == CP_UTF8) // a machine set to UTF-8 as its ANSI code page lacks nothing
        return fromWide(wide);
    std::wstring clean;
    clean.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const wchar_t c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            clean.push_back(L'?');
            ++i;
        } else if ((c >= 0xD800 && c <= 0xDFFF) || (c1Undefined_ && c >= 0x80 && c <= 0x9F)) {
            clean.push_back(L'?');
        } else {
            clean.push_back(c);
        }
    }
    if (clean.empty())
        return {};
    const int inLength = static_cast<int>(clean.size());
    // The few code pages that take neither the flag nor a default character (the ISO-2022
    // ones) are asked without them rather than giving nothing.
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    const char* fallback = "?";
    int length =
        WideCharToMultiByte(number_, flags, clean.data(), inLength, nullptr, 0, fallback, nullptr);
    if (length == 0) {
        flags = 0;
        fallback = nullptr;
        length = WideCharToMultiByte(number_, flags, clean.data(), inLength, nullptr, 0, fallback,
                                     nullptr);
    }
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(number_, flags, clean.data(), inLength, out.data(), length, fallback,
                        nullptr);
    return out;
}

std::string WinCodePage::toUtf8(std::string_view ansi) const {
    if (singleByte_) {
        std::string out;
        out.reserve(ansi.size());
        for (const char c : ansi)
            out += bytes_[static_cast<unsigned char>(c)];
        return out;
    }
    if (ansi.empty())
        return {};
    const int inLength = static_cast<int>(ansi.size());
    const int length = MultiByteToWideChar(number_, 0, ansi.data(), inLength, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(number_, 0, ansi.data(), inLength, wide.data(), length);
    return fromWide(wide);
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
        wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
        DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
        if (!GetComputerNameW(buffer, &size))
            return {};
        return fromWide(std::wstring_view(buffer, size));
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

std::unique_ptr<CodePage> openCodePage(std::uint32_t number) {
    return std::make_unique<win32::WinCodePage>(number);
}

std::unique_ptr<Platform> createPlatform() {
    return std::make_unique<win32::WinPlatform>();
}

} // namespace kv::platform
