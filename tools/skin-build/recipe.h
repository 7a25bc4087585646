// The bitmap recipes of a skin's sources: small drawing programs, one per bitmap, that the skin
// builder runs to make the skin's pixels. Integer arithmetic only, so the same recipe gives the
// same pixels on every machine.
//
//   bitmap NAME W H            starts a bitmap, every pixel magenta (transparent)
//   fill X Y W H C             a filled rectangle
//   vgrad X Y W H C1 C2        a vertical gradient, C1 on the top row, C2 on the bottom row
//   hgrad X Y W H C1 C2        a horizontal gradient, C1 left, C2 right
//   frame X Y W H C            a one-pixel outline
//   hline X Y W C / vline X Y H C / pixel X Y C
//   line X1 Y1 X2 Y2 C         a straight or 45-degree line
//   round X Y W H              the four corner pixels of the rectangle become transparent
//   disc CX CY R C             a filled disc; centre and radius in half pixels
//   ring CX CY R C             a two-half-pixel ring of the same disc
//   check X Y C                a 7 x 7 tick mark
//   arrow X Y DIR C            a 7 x 4 (up, down) or 4 x 7 (left, right) triangle
//   grip X Y W H C1 C2         a grip of 2 x 2 dots every 4 pixels
//   copy SX SY W H DX DY       copies a rectangle of this bitmap
// Colours are RRGGBB in hex or the word "key" (magenta). "#" starts a comment.
#pragma once

#include "skin/store/SkinBitmap.h"

#include <memory>
#include <string>
#include <vector>

namespace kv::skinbuild {

// Runs a recipe file; throws std::runtime_error with the line number on a bad line.
std::vector<std::unique_ptr<TSkinBitmap>> RunRecipes(const std::string& Text,
                                                     const std::string& FileName);

} // namespace kv::skinbuild
