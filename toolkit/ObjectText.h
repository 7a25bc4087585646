// Conversion between the textual and the binary component form.
//
// Textual form (UTF-8):
//   object Form1: TForm1            ("inherited" / "inline" instead of "object"; the name and
//     Left = 192                     colon may be left out; "[n]" after the class: position)
//     Caption = 'Data '#304'şlemleri'
//     Font.Style = [fsBold]
//     Lines.Strings = (
//       'a'
//       'b')
//     Items = <
//       item
//         Name = 'x'
//       end>
//     Data = {
//       0102A0FF}
//     object Panel1: TPanel
//     end
//   end
// Values: integers (decimal, optionally negative, or $hex), floats (1.5 = extended, with
// suffix s = single, c = currency, d = date: 1.5s 12.34c 45000.5d), strings in single quotes
// (a doubled quote stands for one) joined with #nnn character codes (Unicode code points; #$hh
// also) and '+' across lines, identifiers (also dotted; True, False, nil and Null have kinds of
// their own), sets [a, b], binary { hex }, lists ( ... ), collections < item ... end >.
// A string's binary kind follows from its text: ASCII up to 255 bytes is a short string, longer
// ASCII a long string, anything else UTF-8. Other kinds carry a suffix right after the closing
// quote so that every binary stream survives the trip through text unchanged: A (short 8-bit
// string; #128..#255 are single bytes), L (long 8-bit string), W (UTF-16 string), U (UTF-8
// string that holds only ASCII). Integers are always written in their smallest kind.
//
// Both functions raise EReadError/EParserError with the position (line and column of the
// text, byte offset of the binary form) for malformed input; nesting is limited.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Line and column (1-based) of the text for byte offsets of the binary result.
using TTextPositionMap = std::vector<std::pair<std::int64_t, std::pair<int, int>>>;

std::string ObjectTextToBinary(std::string_view Text, TTextPositionMap* Positions = nullptr);
std::string ObjectBinaryToText(std::string_view Binary);
// True when Data starts with the binary form's signature "TPF0".
bool IsBinaryComponentStream(std::string_view Data);
