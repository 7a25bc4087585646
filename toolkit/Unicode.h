// UTF-8 <-> UTF-16 conversion (for the seams where UTF-16 or code points are needed).
//   utf8ToUtf16: invalid UTF-8 bytes become U+FFFD.  utf16ToUtf8: lone surrogates become U+FFFD.
//   isValidUtf8: strict check (no overlong forms, no surrogates, at most U+10FFFF).
//   appendUtf8(out, cp): appends a code point (surrogates and values > U+10FFFF as U+FFFD).
//   decodeUtf8(s, pos, cp): reads one code point at pos; false (pos unchanged) when invalid.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::toolkit {

std::u16string utf8ToUtf16(std::string_view Text);
std::string utf16ToUtf8(std::u16string_view Text);
bool isValidUtf8(std::string_view Text);
void appendUtf8(std::string& Out, std::uint32_t CodePoint);
bool decodeUtf8(std::string_view Text, size_t& Pos, std::uint32_t& CodePoint);

} // namespace kv::toolkit
