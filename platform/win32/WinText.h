#pragma once
// Private: texts between the program (UTF-8) and Windows: UTF-16 for the wide functions (file
// names), the ANSI code page for the 8-bit "A" functions (registry texts, service names, process
// names, system messages), and Win32 error results.

// The backend calls the 8-bit "A" functions and the 8-bit Tool Help records by name; make sure
// no UNICODE setting of the build turns the generic names into the wide ones.
#undef UNICODE
#undef _UNICODE
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include "platform/Result.h"

#include <string>
#include <string_view>
#include <windows.h>

namespace kv::platform::win32 {

// Between two code pages through UTF-16 (MultiByteToWideChar, WideCharToMultiByte), the way the
// "A" functions take their arguments: for registry texts and system messages.
std::string convert(std::string_view text, UINT from, UINT to);
// UTF-8 <-> UTF-16 (wchar_t is 16-bit on Windows) for the "W" functions.
std::wstring toWide(std::string_view utf8);
std::string fromWide(std::wstring_view wide);
inline std::string toAnsi(std::string_view utf8) {
    return convert(utf8, CP_UTF8, CP_ACP);
}
inline std::string fromAnsi(std::string_view ansi) {
    return convert(ansi, CP_ACP, CP_UTF8);
}

// The error of the last failed call (GetLastError), with the system's message.
Error lastError(const std::string& what);
Error errorFrom(DWORD code, const std::string& what);

} // namespace kv::platform::win32
