#include "skin/store/SkinHue.h"

#include "skin/store/SkinBitmap.h"

#include <algorithm>
#include <cmath>

namespace kv::skin {

namespace {

struct Rgb {
    int R, G, B;
};

Rgb rotate(Rgb In, int Degrees) {
    const int mx = std::max({In.R, In.G, In.B});
    const int mn = std::min({In.R, In.G, In.B});
    const int chroma = mx - mn;
    if (chroma == 0)
        return In;
    double h = 0;
    if (mx == In.R)
        h = std::fmod(static_cast<double>(In.G - In.B) / chroma + 6.0, 6.0);
    else if (mx == In.G)
        h = static_cast<double>(In.B - In.R) / chroma + 2.0;
    else
        h = static_cast<double>(In.R - In.G) / chroma + 4.0;
    h = std::fmod(h + (Degrees % 360 + 360) / 60.0, 6.0);
    const double c = chroma;
    const double x = c * (1.0 - std::fabs(std::fmod(h, 2.0) - 1.0));
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(h)) {
    case 0:
        r = c, g = x;
        break;
    case 1:
        r = x, g = c;
        break;
    case 2:
        g = c, b = x;
        break;
    case 3:
        g = x, b = c;
        break;
    case 4:
        r = x, b = c;
        break;
    default:
        r = c, b = x;
        break;
    }
    const auto out = [mn](double v) {
        return std::clamp(static_cast<int>(std::lround(v + mn)), 0, 255);
    };
    return {out(r), out(g), out(b)};
}

} // namespace

std::uint32_t RotatePixelHue(std::uint32_t P, int Degrees) {
    const Rgb r = rotate({PixelRed(P), PixelGreen(P), PixelBlue(P)}, Degrees);
    return SkinPixel(r.R, r.G, r.B, PixelAlpha(P));
}

TColor RotateColorHue(TColor Color, int Degrees) {
    if ((static_cast<std::uint32_t>(Color) & 0xFF000000u) != 0)
        return Color;
    const Rgb r = rotate({Color & 0xFF, (Color >> 8) & 0xFF, (Color >> 16) & 0xFF}, Degrees);
    return RGBColor(r.R, r.G, r.B);
}

} // namespace kv::skin
