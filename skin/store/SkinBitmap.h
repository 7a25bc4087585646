// TSkinBitmap: one 32-bit image of a skin (a name, its size and its pixels).
//
// Pixels are 32-bit values 0xAARRGGBB, which in memory on the little-endian machines we build
// for are the bytes blue, green, red, alpha: the order the skin body stores them in. Rows run
// from top to bottom.
//
// Skins mark the parts of an image that must not be drawn with magenta. After an image is read,
// ReplaceKeyColors() turns every pixel close to magenta (255, 0, 255) or to its darker twin
// (127, 0, 127) into the one transparent key kSkinTransparentKey, so that masked drawing has a
// single value to test for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The transparent key: red 127, green 0, blue 127, alpha 0.
constexpr std::uint32_t kSkinTransparentKey = 0x007F007Fu;

struct TSkinRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool operator==(const TSkinRect&) const = default;
};

constexpr std::uint32_t SkinPixel(int R, int G, int B, int A = 255) {
    return (static_cast<std::uint32_t>(A & 0xFF) << 24) |
           (static_cast<std::uint32_t>(R & 0xFF) << 16) |
           (static_cast<std::uint32_t>(G & 0xFF) << 8) | static_cast<std::uint32_t>(B & 0xFF);
}
constexpr int PixelRed(std::uint32_t P) {
    return static_cast<int>((P >> 16) & 0xFF);
}
constexpr int PixelGreen(std::uint32_t P) {
    return static_cast<int>((P >> 8) & 0xFF);
}
constexpr int PixelBlue(std::uint32_t P) {
    return static_cast<int>(P & 0xFF);
}
constexpr int PixelAlpha(std::uint32_t P) {
    return static_cast<int>(P >> 24);
}

class TSkinBitmap {
public:
    TSkinBitmap() = default;
    // Negative sizes count as 0; a bitmap with no pixels is 0 x 0.
    TSkinBitmap(std::string Name, int Width, int Height, std::uint32_t Fill = 0);

    std::string Name;
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;
    // Set by ReplaceKeyColors(): the image holds the transparent key / some alpha value lies
    // strictly between 0 and 255.
    bool HasKey = false;
    bool HasAlpha = false;

    std::uint32_t Pixel(int X, int Y) const {
        return Pixels[static_cast<size_t>(Y) * static_cast<size_t>(Width) + static_cast<size_t>(X)];
    }
    void SetPixel(int X, int Y, std::uint32_t Value) {
        Pixels[static_cast<size_t>(Y) * static_cast<size_t>(Width) + static_cast<size_t>(X)] =
            Value;
    }
    bool Contains(int X, int Y) const { return X >= 0 && Y >= 0 && X < Width && Y < Height; }
    void Fill(std::uint32_t Value);
    // Reverses the order of the rows (an image stored bottom to top).
    void FlipRows();
    // Near-magenta pixels become the transparent key; updates HasKey and HasAlpha.
    void ReplaceKeyColors();
};

// True when each of red, green and blue differs by less than 6 from the reference colour.
bool IsNearColor(std::uint32_t Pixel, int R, int G, int B);
