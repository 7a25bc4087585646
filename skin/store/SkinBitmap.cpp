#include "skin/store/SkinBitmap.h"

#include <algorithm>
#include <cstdlib>

TSkinBitmap::TSkinBitmap(std::string AName, int AWidth, int AHeight, std::uint32_t FillValue)
    : Name(std::move(AName)), Width(std::max(0, AWidth)), Height(std::max(0, AHeight)),
      Pixels(static_cast<size_t>(Width) * static_cast<size_t>(Height), FillValue) {
    // An image without pixels has no rows either: a 0 x 2,000,000,000 bitmap would otherwise
    // cost every row loop its full height.
    if (Width == 0 || Height == 0)
        Width = Height = 0;
}

void TSkinBitmap::Fill(std::uint32_t Value) {
    std::fill(Pixels.begin(), Pixels.end(), Value);
}

void TSkinBitmap::FlipRows() {
    const auto w = static_cast<size_t>(Width);
    for (int top = 0, bottom = Height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(Pixels.begin() + static_cast<std::ptrdiff_t>(top * w),
                         Pixels.begin() + static_cast<std::ptrdiff_t>((top + 1) * w),
                         Pixels.begin() + static_cast<std::ptrdiff_t>(bottom * w));
}

bool IsNearColor(std::uint32_t P, int R, int G, int B) {
    return std::abs(PixelRed(P) - R) < 6 && std::abs(PixelGreen(P) - G) < 6 &&
           std::abs(PixelBlue(P) - B) < 6;
}

void TSkinBitmap::ReplaceKeyColors() {
    HasKey = false;
    HasAlpha = false;
    for (std::uint32_t& p : Pixels) {
        if (IsNearColor(p, 255, 0, 255) || IsNearColor(p, 127, 0, 127))
            p = kSkinTransparentKey;
        if (p == kSkinTransparentKey)
            HasKey = true;
        const int a = PixelAlpha(p);
        if (a > 0 && a < 255)
            HasAlpha = true;
    }
}
