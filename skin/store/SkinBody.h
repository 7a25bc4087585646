// The skin body: the uncompressed layout of a whole skin, shared by skin files and the stored
// skin of a form. All integers are 32-bit little-endian; a string is a 32-bit length and that
// many 8-bit characters.
//
//   1. five strings: skin name, skin version, author, author e-mail, author web address;
//   2. the bitmap count, then per bitmap: name, width, height, width x |height| x 4 bytes of
//      pixels (blue, green, red, alpha); a negative height means the rows are stored bottom to
//      top. When the count's bits 16-19 are all set (count | 0xF0000) the top-level objects
//      below are in the binary component form;
//   3. the object count, then per top-level object: its class name, then either its object
//      clause in the textual component form (a string) or a 32-bit size and a "TPF0" stream.
//
// Reading checks every count and size against the bytes that are left before allocating, so a
// damaged body fails with a message instead of reserving memory it does not hold. Objects of
// classes that are not registered skin object classes are skipped.
#pragma once

#include "skin/store/SkinResult.h"

#include <string>
#include <string_view>

class TSkinSource;

namespace kv::skin {

// Reads Body into the empty source Into: near-magenta pixels become the transparent key, the
// bitmap links of each object are resolved, and the first skClient object of each top-level
// object is unmasked. On failure Into is left empty.
SkinStatus ReadSkinBody(std::string_view Body, TSkinSource& Into);
// The body of Source; BinaryForms writes the objects (and their children) as binary streams.
std::string WriteSkinBody(const TSkinSource& Source, bool BinaryForms);

// Makes sure the skin object classes are registered (they register when their code is linked;
// this pulls that code in).
void RegisterSkinClasses();

} // namespace kv::skin
