// A minimal PNG writer (8-bit RGBA, no interlace) for exporting skin bitmaps without Qt.
#pragma once

#include <string>

class TSkinBitmap;

namespace kv::skintool {

// The PNG file bytes of a skin bitmap. Pixels holding the transparent key become fully
// transparent; a bitmap without partial alpha is written opaque elsewhere.
std::string EncodePng(const TSkinBitmap& Bitmap);

} // namespace kv::skintool
