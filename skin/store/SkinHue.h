// Hue rotation of skin pixels and colours.
//
// A colour is taken to HSV, its hue turned by the given number of degrees (any integer; taken
// modulo 360) and brought back; saturation and value stay as they are, so greys, black and white
// never change. System colours and the special values (clNone, clDefault) are left alone: they
// stand for the machine's scheme, not for a colour of the skin.
#pragma once

#include "toolkit/Graphics.h"

#include <cstdint>

namespace kv::skin {

// A 0xAARRGGBB pixel with its hue rotated; alpha is kept.
std::uint32_t RotatePixelHue(std::uint32_t Pixel, int Degrees);
// A toolkit colour (0x00BBGGRR) with its hue rotated.
TColor RotateColorHue(TColor Color, int Degrees);

} // namespace kv::skin
