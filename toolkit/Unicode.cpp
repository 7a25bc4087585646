#include "toolkit/Unicode.h"

namespace kv::toolkit {

bool decodeUtf8(std::string_view Text, size_t& Pos, std::uint32_t& CodePoint) {
    if (Pos >= Text.size())
        return false;
    const auto b0 = static_cast<std::uint8_t>(Text[Pos]);
    if (b0 < 0x80) {
        CodePoint = b0;
        ++Pos;
        return true;
    }
    int n = 0;
    std::uint32_t cp = 0;
    std::uint32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        n = 1;
        cp = b0 & 0x1Fu;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 2;
        cp = b0 & 0x0Fu;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 3;
        cp = b0 & 0x07u;
        min = 0x10000;
    } else {
        return false;
    }
    if (Pos + static_cast<size_t>(n) >= Text.size())
        return false;
    for (int i = 1; i <= n; ++i) {
        const auto b = static_cast<std::uint8_t>(Text[Pos + static_cast<size_t>(i)]);
        if ((b & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    CodePoint = cp;
    Pos += static_cast<size_t>(n) + 1;
    return true;
}

void appendUtf8(std::string& Out, std::uint32_t cp) {
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        cp = 0xFFFD;
    if (cp < 0x80) {
        Out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        Out += static_cast<char>(0xC0 | (cp >> 6));
        Out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        Out += static_cast<char>(0xE0 | (cp >> 12));
        Out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        Out += static_cast<char>(0xF0 | (cp >> 18));
        Out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        Out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        Out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isValidUtf8(std::string_view Text) {
    size_t pos = 0;
    std::uint32_t cp = 0;
    while (pos < Text.size())
        if (!decodeUtf8(Text, pos, cp))
            return false;
    return true;
}

std::u16string utf8ToUtf16(std::string_view Text) {
    std::u16string r;
    r.reserve(Text.size());
    size_t pos = 0;
    while (pos < Text.size()) {
        std::uint32_t cp = 0;
        if (!decodeUtf8(Text, pos, cp)) {
            cp = 0xFFFD;
            ++pos;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            r += static_cast<char16_t>(0xD800 + (cp >> 10));
            r += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            r += static_cast<char16_t>(cp);
        }
    }
    return r;
}

std::string utf16ToUtf8(std::u16string_view Text) {
    std::string r;
    r.reserve(Text.size());
    for (size_t i = 0; i < Text.size(); ++i) {
        std::uint32_t u = Text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < Text.size() && Text[i + 1] >= 0xDC00 &&
            Text[i + 1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (Text[i + 1] - 0xDC00u);
            ++i;
        }
        appendUtf8(r, u);
    }
    return r;
}

} // namespace kv::toolkit
