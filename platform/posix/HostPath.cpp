#include "platform/posix/HostPath.h"

#include <cstdint>

namespace kv::platform::sim::detail {

namespace {

char32_t upper(char32_t c) {
    if (c >= U'a' && c <= U'z')
        return c - 0x20;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return c - 0x20;
    if (c == 0xFF)
        return 0x178;
    if (c == 0x130 || c == 0x131) // İ and ı: no partner in a case-insensitive file system compare
        return c;
    if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return (c & 1) ? c - 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c & 1) ? c : c - 1;
    return c;
}

void append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::string foldName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const auto b0 = static_cast<unsigned char>(name[i]);
        // Only one- and two-byte sequences can hold a letter that folds; everything else is
        // copied byte for byte.
        if (b0 < 0x80) {
            append(out, upper(b0));
            ++i;
        } else if ((b0 & 0xE0) == 0xC0 && i + 1 < name.size() &&
                   (static_cast<unsigned char>(name[i + 1]) & 0xC0) == 0x80 && b0 >= 0xC2) {
            const char32_t c =
                (char32_t(b0 & 0x1F) << 6) | (static_cast<unsigned char>(name[i + 1]) & 0x3F);
            append(out, upper(c));
            i += 2;
        } else {
            out += name[i];
            ++i;
        }
    }
    return out;
}

bool sameName(std::string_view a, std::string_view b) {
    return a == b || foldName(a) == foldName(b);
}

} // namespace kv::platform::sim::detail
