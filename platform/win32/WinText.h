#pragma once
// Private: texts between the program (UTF-8) and Windows (UTF-16: the backend calls the wide
// functions, never the ANSI ones, whose best fit turns a letter the code page lacks into a
// look-alike), and Win32 error results.

// The backend names the wide functions explicitly (the W suffix); a UNICODE setting of the build
// changes nothing here.
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

// UTF-8 <-> UTF-16 (wchar_t is 16-bit on Windows) for the wide functions, through the program's
// one converter.
std::wstring toWide(std::string_view utf8);
std::string fromWide(std::wstring_view wide);

// The error of the last failed call (GetLastError), with the system's message.
Error lastError(const std::string& what);
Error errorFrom(DWORD code, const std::string& what);

} // namespace kv::platform::win32
