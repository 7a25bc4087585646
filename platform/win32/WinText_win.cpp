#include "platform/Unicode.h"
#include "platform/win32/WinText.h"

namespace kv::platform::win32 {

std::wstring toWide(std::string_view utf8) {
    const std::u16string text = utf8ToUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string fromWide(std::wstring_view wide) {
    return utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

Error errorFrom(DWORD code, const std::string& what) {
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
    std::string text = what;
    if (length > 0 && message) {
        std::wstring system(message, length);
        while (!system.empty() && (system.back() == L'\n' || system.back() == L'\r'))
            system.pop_back();
        text += ": " + fromWide(system);
    }
    if (message)
        LocalFree(message);
    return Error{code, text};
}

Error lastError(const std::string& what) {
    return errorFrom(GetLastError(), what);
}

} // namespace kv::platform::win32
