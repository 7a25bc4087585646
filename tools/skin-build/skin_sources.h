// Reading a skin's readable sources into a skin source, and placing a stored skin in a layout.
#pragma once

#include <string>
#include <string_view>

class TSkinSource;

namespace kv::skinbuild {

// Header lines, bitmap recipes and object clauses into Into (throws std::runtime_error).
void BuildSkin(const std::string& Header, const std::string& Recipes, const std::string& Objects,
               TSkinSource& Into);
// The layout text with the SkinStream property of its skin engine replaced by Stream (hex, 64
// digits a line); throws when the layout has no such property.
std::string ReplaceLayoutSkinStream(const std::string& Layout, std::string_view Stream);
// The bytes of the first SkinStream property of a layout text; throws when there is none.
std::string ExtractLayoutSkinStream(const std::string& Layout);

} // namespace kv::skinbuild
