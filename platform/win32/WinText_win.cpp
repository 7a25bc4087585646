#include "platform/win32/WinText.h"

namespace kv::platform::win32 {

std::string convert(std::string_view text, UINT from, UINT to) {
    if (text.empty())
        return {};
    const int inLength = static_cast<int>(text.size());
    const int wideLength = MultiByteToWideChar(from, 0, text.data(), inLength, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(from, 0, text.data(), inLength, wide.data(), wideLength);
    // The default character "?" stands for what the target code page lacks (not allowed with
    // CP_UTF8, which lacks nothing).
    const char* fallback = to == CP_UTF8 ? nullptr : "?";
    const int outLength =
        WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, fallback, nullptr);
    std::string out(static_cast<std::size_t>(outLength), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideLength, out.data(), outLength, fallback, nullptr);
    return out;
}

std::wstring toWide(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int inLength = static_cast<int>(utf8.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, wide.data(), length);
    return wide;
}

std::string fromWide(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int inLength = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, out.data(), length, nullptr, nullptr);
    return out;
}

Error errorFrom(DWORD code, const std::string& what) {
    char* message = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPSTR>(&message), 0, nullptr);
    std::string text = what;
    if (length > 0 && message) {
        std::string system(message, length);
        while (!system.empty() && (system.back() == '\n' || system.back() == '\r'))
            system.pop_back();
        text += ": " + fromAnsi(system);
    }
    if (message)
        LocalFree(message);
    return Error{code, text};
}

Error lastError(const std::string& what) {
    return errorFrom(GetLastError(), what);
}

} // namespace kv::platform::win32
