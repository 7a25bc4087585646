#pragma once
// UTF-8 <-> UTF-16, the one conversion of the program: texts are UTF-8 inside, UTF-16 where a
// seam wants it (OLE DB, the TDS wire, the component streams). Portable, no system calls.
//
// Invalid input never fails and never passes through unchanged:
//  - UTF-8: each byte that does not start a well-formed sequence becomes one U+FFFD and reading
//    goes on at the next byte. Ill-formed are stray continuation bytes, lead bytes C0, C1 and
//    F5-FF, sequences cut short, overlong forms, encoded surrogates (ED A0 80 - ED BF BF) and
//    values above U+10FFFF.
//  - UTF-16: a high surrogate not followed by a low one, and a low surrogate not preceded by a
//    high one, each become U+FFFD.

#include <cstddef>
#include <string>
#include <string_view>

namespace kv::platform {

std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);

// True when `text` is well-formed UTF-8 throughout.
bool isValidUtf8(std::string_view text);
// Reads the code point at `pos` and moves `pos` past it; false (and `pos` unchanged) when the
// bytes there are not a well-formed sequence.
bool decodeUtf8(std::string_view text, std::size_t& pos, char32_t& codePoint);
// Appends one code point; surrogates and values above U+10FFFF are appended as U+FFFD.
void appendUtf8(std::string& out, char32_t codePoint);

} // namespace kv::platform
