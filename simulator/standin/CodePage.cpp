#include "simulator/standin/CodePage.h"

#include "platform/Unicode.h"
#include "simulator/standin/Text.h"

namespace kv::standin {

namespace {

// 0x80..0x9F of code page 1252; the bytes Windows leaves undefined map to themselves.
constexpr char16_t High1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                   0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t toUnicode(std::uint8_t b, int codePage) {
    if (b < 0x80)
        return b;
    if (codePage == 1254) {
        switch (b) {
        case 0x8E:
        case 0x9E:
            return b; // Ž and ž are not in 1254
        case 0xD0:
            return 0x011E; // Ğ
        case 0xDD:
            return 0x0130; // İ
        case 0xDE:
            return 0x015E; // Ş
        case 0xF0:
            return 0x011F; // ğ
        case 0xFD:
            return 0x0131; // ı
        case 0xFE:
            return 0x015F; // ş
        default:
            break;
        }
    }
    if (b < 0xA0)
        return High1252[b - 0x80];
    return b;
}

} // namespace

int codePageOf(const std::vector<std::uint8_t>& collation) {
    if (collation.size() < 5)
        return 1252;
    const unsigned lcid = collation[0] | (collation[1] << 8) | ((collation[2] & 0x0F) << 16);
    return (lcid & 0x3FF) == 0x1F ? 1254 : 1252; // the primary language Turkish
}

std::string codePageToUtf8(const std::uint8_t* data, std::size_t bytes, int codePage) {
    std::u16string u;
    u.reserve(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        u.push_back(toUnicode(data[i], codePage));
    std::vector<std::uint8_t> le;
    appendUtf16le(le, u);
    return utf16leToUtf8(le.data(), le.size());
}

std::string utf8ToCodePage(std::string_view text, int codePage) {
    std::string out;
    for (char16_t c : platform::utf8ToUtf16(text)) {
        char mapped = '?';
        for (int b = 0; b < 256; ++b) {
            if (toUnicode(static_cast<std::uint8_t>(b), codePage) == c) {
                mapped = static_cast<char>(b);
                break;
            }
        }
        out.push_back(mapped);
    }
    return out;
}

} // namespace kv::standin
