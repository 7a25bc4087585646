// zlib (RFC 1950) compression and bounded decompression for the skin formats.
#pragma once

#include "skin/store/SkinResult.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace kv::skin {

// The largest body a skin may inflate to. Our skins are well below one megabyte; the cap keeps a
// small crafted stream from claiming gigabytes.
constexpr std::size_t kMaxSkinBodySize = 64u << 20;

// Level: 1 (fastest) to 9 (maximum).
std::string ZlibCompress(std::string_view Data, int Level);
// Inflates a complete zlib stream; fails on bad data, a truncated stream or output beyond
// MaxSize. The output grows with the data actually inflated, never ahead of it.
SkinBytes ZlibDecompress(std::string_view Data, std::size_t MaxSize = kMaxSkinBodySize);

} // namespace kv::skin
