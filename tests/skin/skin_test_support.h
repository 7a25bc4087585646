// Small skins built in code for the skin tests.
#pragma once

#include "skin/store/SkinBitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv::skin::test {

// Appends the skin body's integers and strings.
struct BodyBuilder {
    std::string Data;
    BodyBuilder& U32(std::uint32_t V);
    BodyBuilder& Str(const std::string& S);
    BodyBuilder& Header(const std::string& Name = "Test Skin");
    // A bitmap record; Rows top to bottom, written bottom to top when Height < 0.
    BodyBuilder& Bitmap(const std::string& Name, int Width, int Height,
                        const std::vector<std::uint32_t>& TopDown);
    BodyBuilder& TextObject(const std::string& Class, const std::string& Text);
};

// A skin with a 20 x 115 "BUTTON.bmp" of five 20 x 23 states (each a flat colour with a
// one-pixel frame of a darker colour) and a "Button" object like the console's.
std::string ButtonSkinBody();
// The flat colour of state row Index (0 normal, 1 hot, 2 pressed, 3 disabled, 4 focused).
std::uint32_t ButtonStateColor(int Index);
std::uint32_t ButtonFrameColor(int Index);
// The "Button" object clause (children in "Objects", textual form).
std::string ButtonObjectText();

} // namespace kv::skin::test
