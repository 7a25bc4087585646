#pragma once
// Text helpers of the stand-in server: UTF-8 inside, UTF-16LE on the wire, and the name
// comparison of the server's collation.
//
// Names of catalog objects (databases, logins, procedures, tables) compare without regard to
// letter case. Under the Turkish collation the dotted and dotless I are separate letters, so
// 'I' (U+0049) and 'i' (U+0069) are not a case pair there: "SP_CONFIGURE" does not find
// "sp_configure", while "Sp_configure" does. Keywords are never bound through the collation.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::standin {

// UTF-16LE bytes to UTF-8 (platform/Unicode.h converts; unpaired surrogates become U+FFFD). An
// odd trailing byte is dropped.
std::string utf16leToUtf8(const std::uint8_t* data, std::size_t bytes);
// Appends the UTF-16LE bytes of `text` to `out` (platform::utf8ToUtf16 makes the units).
void appendUtf16le(std::vector<std::uint8_t>& out, std::u16string_view text);

enum class Collation { Latin1General, Turkish };

// Upper-cases the ASCII letters of a name for comparison (non-ASCII letters stay as they are).
// Under Turkish, 'i' and 'I' stay distinct.
std::string foldName(std::string_view name, Collation collation);
bool sameName(std::string_view a, std::string_view b, Collation collation);

// Case-insensitive ASCII comparison for keywords.
bool keywordEquals(std::string_view a, std::string_view b);
std::string asciiLower(std::string_view text);

} // namespace kv::standin
