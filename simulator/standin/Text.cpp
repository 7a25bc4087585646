#include "simulator/standin/Text.h"

#include "platform/Unicode.h"

namespace kv::standin {

std::string utf16leToUtf8(const std::uint8_t* data, std::size_t bytes) {
    std::u16string units(bytes / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return platform::utf16ToUtf8(units);
}

void appendUtf16le(std::vector<std::uint8_t>& out, std::u16string_view text) {
    for (char16_t u : text) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
}

std::string foldName(std::string_view name, Collation collation) {
    std::string out(name);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            if (collation == Collation::Turkish && c == 'i')
                continue; // dotted i has no ASCII upper-case partner under Turkish rules
            c = static_cast<char>(c - 'a' + 'A');
        } else if (c == 'I' && collation == Collation::Turkish) {
            c = '\x01'; // dotless capital: keep it apart from the folded 'i'
        }
    }
    return out;
}

bool sameName(std::string_view a, std::string_view b, Collation collation) {
    return a.size() == b.size() && foldName(a, collation) == foldName(b, collation);
}

bool keywordEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return out;
}

} // namespace kv::standin
