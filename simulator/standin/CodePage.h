#pragma once
// 8-bit text (varchar, char, text) as the stand-in's collations store it: Windows code page
// 1254 under a Turkish collation, 1252 under any other. Values arrive in the code page of the
// collation they carry and go back in it; inside, the engine works in UTF-8. A character the
// code page lacks becomes '?', as SQL Server converts it.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::standin {

// The code page of a 5-byte TDS collation (its LCID decides); 1252 when it is shorter.
int codePageOf(const std::vector<std::uint8_t>& collation);

std::string codePageToUtf8(const std::uint8_t* data, std::size_t bytes, int codePage);
std::string utf8ToCodePage(std::string_view text, int codePage);

} // namespace kv::standin
