// The registry through advapi32's wide functions: names and texts go from UTF-8 to UTF-16 as
// they are, never through the ANSI code page's look-alikes.

#include "platform/win32/WinBackends.h"

#include <cstring>
#include <vector>

namespace kv::platform::win32 {

namespace {

HKEY rootKey(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// Key paths are relative to the root; a leading backslash is allowed by our callers.
std::wstring keyPath(std::string_view path) {
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    return toWide(path);
}

class WinRegistryKey final : public RegistryKey {
public:
    explicit WinRegistryKey(HKEY key) : key_(key) {}
    ~WinRegistryKey() override { RegCloseKey(key_); }
    WinRegistryKey(const WinRegistryKey&) = delete;
    WinRegistryKey& operator=(const WinRegistryKey&) = delete;

    Result<std::uint32_t> valueType(std::string_view name) override {
        DWORD type = 0;
        const LONG status =
            RegQueryValueExW(key_, toWide(name).c_str(), nullptr, &type, nullptr, nullptr);
        if (status != ERROR_SUCCESS)
            return errorFrom(static_cast<DWORD>(status), "RegQueryValueEx " + std::string(name));
        return static_cast<std::uint32_t>(type);
    }

    Result<std::string> readString(std::string_view name) override {
        auto raw = read(name);
        if (!raw)
            return raw.error();
        if (raw->type != REG_SZ && raw->type != REG_EXPAND_SZ)
            return Error{win::UnsupportedType, "Invalid data type for '" + std::string(name) + "'"};
        std::wstring text(raw->data.size() / sizeof(wchar_t), L'\0');
        std::memcpy(text.data(), raw->data.data(), text.size() * sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        return fromWide(text);
    }

    Result<std::uint32_t> readInteger(std::string_view name) override {
        auto raw = read(name);
        if (!raw)
            return raw.error();
        if (raw->type != REG_DWORD || raw->data.size() != 4)
            return Error{win::UnsupportedType, "Invalid data type for '" + std::string(name) + "'"};
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | raw->data[static_cast<std::size_t>(i)];
        return value;
    }

    Result<std::vector<std::string>> valueNames() override {
        DWORD count = 0, longest = 0;
        LONG status = RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       &count, &longest, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS)
            return errorFrom(static_cast<DWORD>(status), "RegQueryInfoKey");
        std::vector<std::string> names;
        std::vector<wchar_t> buffer(longest + 1);
        for (DWORD index = 0;; ++index) {
            DWORD length = static_cast<DWORD>(buffer.size());
            status = RegEnumValueW(key_, index, buffer.data(), &length, nullptr, nullptr, nullptr,
                                   nullptr);
            if (status == ERROR_NO_MORE_ITEMS)
                break;
            if (status == ERROR_MORE_DATA) { // a value was added meanwhile
                buffer.resize(buffer.size() * 2);
                --index;
                continue;
            }
            if (status != ERROR_SUCCESS)
                return errorFrom(static_cast<DWORD>(status), "RegEnumValue");
            names.push_back(fromWide(std::wstring_view(buffer.data(), length)));
        }
        return names;
    }

    Result<void> writeString(std::string_view name, std::string_view value,
                             bool expandable) override {
        const std::wstring data = toWide(value);
        const LONG status =
            RegSetValueExW(key_, toWide(name).c_str(), 0, expandable ? REG_EXPAND_SZ : REG_SZ,
                           reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        if (status != ERROR_SUCCESS)
            return errorFrom(static_cast<DWORD>(status), "RegSetValueEx " + std::string(name));
        return success();
    }

    Result<void> writeInteger(std::string_view name, std::uint32_t value) override {
        const DWORD data = value;
        const LONG status = RegSetValueExW(key_, toWide(name).c_str(), 0, REG_DWORD,
                                           reinterpret_cast<const BYTE*>(&data), sizeof data);
        if (status != ERROR_SUCCESS)
            return errorFrom(static_cast<DWORD>(status), "RegSetValueEx " + std::string(name));
        return success();
    }

    Result<void> deleteValue(std::string_view name) override {
        const LONG status = RegDeleteValueW(key_, toWide(name).c_str());
        if (status != ERROR_SUCCESS)
            return errorFrom(static_cast<DWORD>(status), "RegDeleteValue " + std::string(name));
        return success();
    }

private:
    struct Raw {
        DWORD type = 0;
        std::vector<unsigned char> data;
    };

    Result<Raw> read(std::string_view name) {
        const std::wstring wideName = toWide(name);
        Raw raw;
        for (;;) {
            DWORD size = static_cast<DWORD>(raw.data.size());
            const LONG status =
                RegQueryValueExW(key_, wideName.c_str(), nullptr, &raw.type,
                                 raw.data.empty() ? nullptr : raw.data.data(), &size);
            if (status == ERROR_SUCCESS && (!raw.data.empty() || size == 0)) {
                raw.data.resize(size);
                return raw;
            }
            if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
                return errorFrom(static_cast<DWORD>(status),
                                 "RegQueryValueEx " + std::string(name));
            raw.data.resize(size + 1);
        }
    }

    HKEY key_;
};

} // namespace

Result<std::unique_ptr<RegistryKey>> WinRegistry::openKey(RegistryRoot root,
                                                          std::string_view path) {
    HKEY key = nullptr;
    const LONG status = RegOpenKeyExW(rootKey(root), keyPath(path).c_str(), 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return errorFrom(static_cast<DWORD>(status), "RegOpenKeyEx " + std::string(path));
    return std::unique_ptr<RegistryKey>(std::make_unique<WinRegistryKey>(key));
}

Result<std::unique_ptr<RegistryKey>> WinRegistry::createKey(RegistryRoot root,
                                                            std::string_view path) {
    HKEY key = nullptr;
    const LONG status =
        RegCreateKeyExW(rootKey(root), keyPath(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return errorFrom(static_cast<DWORD>(status), "RegCreateKeyEx " + std::string(path));
    return std::unique_ptr<RegistryKey>(std::make_unique<WinRegistryKey>(key));
}

} // namespace kv::platform::win32
