#include "png_writer.h"

#include "skin/store/SkinBitmap.h"
#include "skin/store/SkinZlib.h"

#include <zlib.h>

namespace kv::skintool {

namespace {

void be32(std::string& Out, std::uint32_t V) {
    for (int i = 3; i >= 0; --i)
        Out.push_back(static_cast<char>((V >> (8 * i)) & 0xFF));
}

void chunk(std::string& Out, const char* Type, const std::string& Data) {
    be32(Out, static_cast<std::uint32_t>(Data.size()));
    const std::string typed = std::string(Type, 4) + Data;
    Out += typed;
    be32(Out, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()),
                                               static_cast<uInt>(typed.size()))));
}

} // namespace

std::string EncodePng(const TSkinBitmap& B) {
    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string ihdr;
    be32(ihdr, static_cast<std::uint32_t>(B.Width));
    be32(ihdr, static_cast<std::uint32_t>(B.Height));
    ihdr += std::string("\x08\x06\x00\x00\x00", 5);
    chunk(png, "IHDR", ihdr);
    std::string raw;
    raw.reserve(static_cast<size_t>(B.Height) * (static_cast<size_t>(B.Width) * 4 + 1));
    for (int y = 0; y < B.Height; ++y) {
        raw.push_back('\0');
        for (int x = 0; x < B.Width; ++x) {
            const std::uint32_t p = B.Pixel(x, y);
            const bool key = p == kSkinTransparentKey;
            raw.push_back(static_cast<char>(PixelRed(p)));
            raw.push_back(static_cast<char>(PixelGreen(p)));
            raw.push_back(static_cast<char>(PixelBlue(p)));
            raw.push_back(static_cast<char>(key ? 0 : (B.HasAlpha ? PixelAlpha(p) : 255)));
        }
    }
    chunk(png, "IDAT", kv::skin::ZlibCompress(raw, 9));
    chunk(png, "IEND", {});
    return png;
}

} // namespace kv::skintool
