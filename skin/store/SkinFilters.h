// Skin files and the stored skin of a form.
//
// Four filters, registered in this order, each with its extension and description:
//   uskn  "Uncompressed Skin"      the skin body as is
//   cskn  "Compressed Skin"        4 marker bytes ("QVLZ", not checked on reading), then a zlib
//                                  stream of the body at the fastest level
//   xskn  "Ultra Compressed Skin"  the same at the maximum level
//   mskn  "Maximum Compressed"     like xskn, with the objects in the binary component form
//
// The stored skin of a form (the binary property "SkinStream" of the skin engine) is one byte,
// 0 for no skin and 2 when a skin follows (any non-zero byte on reading), then the skin in the
// compressed filter's framing.
#pragma once

#include "skin/store/SkinResult.h"

#include <string>
#include <string_view>
#include <vector>

class TSkinSource;

namespace kv::skin {

struct SkinFilter {
    const char* Extension; // without the dot, lower case
    const char* Description;
    bool Compressed;
    int Level; // zlib level when compressed
    bool BinaryForms;
};

// The registered filters, in registration order.
const std::vector<SkinFilter>& SkinFilters();
// The filter for a file name's extension (compared in lower case), nullptr when none matches.
const SkinFilter* FindSkinFilter(std::string_view FileName);
const SkinFilter& CompressedSkinFilter();

// The body held in a file's bytes.
SkinBytes DecodeSkinFile(const SkinFilter& Filter, std::string_view FileData);
// A file's bytes for Source.
std::string EncodeSkinFile(const SkinFilter& Filter, const TSkinSource& Source);

// Reads a file's bytes into the empty source Into.
SkinStatus ReadSkinFile(const SkinFilter& Filter, std::string_view FileData, TSkinSource& Into);

// The stored skin: Into stays empty (and the result is Ok) for the byte 0.
SkinStatus ReadSkinStream(std::string_view Stream, TSkinSource& Into);
// Source == nullptr or an empty source writes the single byte 0.
std::string WriteSkinStream(const TSkinSource* Source);

} // namespace kv::skin
