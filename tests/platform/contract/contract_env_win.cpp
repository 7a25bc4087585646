// The contract environment of Windows itself: a folder in the user's temporary folder and a
// key under HKEY_CURRENT_USER\Software, both removed afterwards. Under Wine they live in the
// build's own Wine prefix.

#include "platform/Unicode.h"
#include "tests/platform/contract/ContractEnv.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <windows.h>

namespace kv::platform::contract {

namespace {

std::string utf8(const std::wstring& wide) {
    return utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::wstring widened(const std::string& utf8Text) {
    const std::u16string units = utf8ToUtf16(utf8Text);
    return std::wstring(units.begin(), units.end());
}

std::wstring uniqueName(const wchar_t* prefix) {
    static std::atomic<int> counter{0};
    return prefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

class WinEnv final : public ContractEnv {
public:
    WinEnv() : platform_(createPlatform()) {
        wchar_t temp[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        if (length == 0 || length > MAX_PATH)
            throw std::runtime_error("GetTempPath failed");
        folder_ = std::wstring(temp, length) + uniqueName(L"kv-contract-");
        if (!CreateDirectoryW(folder_.c_str(), nullptr))
            throw std::runtime_error("cannot create the test folder");
        key_ = L"Software\\" + uniqueName(L"KelvoraContractTest-");
    }
    ~WinEnv() override {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(folder_), ignored);
        RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());
    }

    Platform& platform() override { return *platform_; }
    ServerMachine machine() override { return openServerMachine("").value(); }
    std::string folder() const override { return utf8(folder_); }
    std::string registryKey() const override { return utf8(key_); }
    bool setReadOnly(const std::string& path, bool readOnly) override {
        const std::wstring wide = widened(path);
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return false;
        const DWORD wanted = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY)
                                      : (attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
        return SetFileAttributesW(wide.c_str(), wanted) != 0;
    }
    std::uint32_t ownProcessId() const override { return GetCurrentProcessId(); }

private:
    std::unique_ptr<Platform> platform_;
    std::wstring folder_;
    std::wstring key_;
};

} // namespace

// Wine tells itself by an export of its ntdll.
bool runningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::unique_ptr<ContractEnv> makeContractEnv() {
    return std::make_unique<WinEnv>();
}

} // namespace kv::platform::contract
