#include "skin/store/SkinBytes.h"

#include "toolkit/SysUtils.h"

namespace kv::skin {

void SkinByteReader::Fail(const std::string& Message) const {
    throw EReadError(Message + " at offset " + std::to_string(FPos));
}

std::uint32_t SkinByteReader::U32(const char* What) {
    if (Remaining() < 4)
        Fail(std::string("Skin data ends inside ") + What);
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(FData[FPos + static_cast<size_t>(i)]);
    FPos += 4;
    return v;
}

std::string_view SkinByteReader::Bytes(size_t Count, const char* What) {
    if (Count > Remaining())
        Fail(std::string(What) + " needs " + std::to_string(Count) + " bytes, only " +
             std::to_string(Remaining()) + " left");
    const std::string_view r = FData.substr(FPos, Count);
    FPos += Count;
    return r;
}

std::string SkinByteReader::String(const char* What) {
    const std::uint32_t n = U32(What);
    return std::string(Bytes(n, What));
}

namespace {

// The length of the UTF-8 sequence of a printable character at Text[At], 0 when the bytes there
// are a control character or not UTF-8.
size_t printableAt(std::string_view Text, size_t At) {
    const auto lead = static_cast<unsigned char>(Text[At]);
    if (lead < 0x80)
        return lead >= 0x20 && lead != 0x7F ? 1 : 0;
    const size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                                                         : 0;
    if (length == 0 || At + length > Text.size())
        return 0;
    std::uint32_t code = lead & (0xFFu >> (length + 1));
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(Text[At + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (next & 0x3Fu);
    }
    const std::uint32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) ||
        (code >= 0x80 && code < 0xA0))
        return 0; // overlong, out of range, a surrogate or a C1 control character
    return length;
}

} // namespace

std::string ReadableText(std::string_view Text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < Text.size();) {
        const size_t n = printableAt(Text, i);
        if (n > 0) {
            out.append(Text.substr(i, n));
            i += n;
            continue;
        }
        const auto byte = static_cast<unsigned char>(Text[i++]);
        out += "(byte 0x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
        out += ')';
    }
    return out;
}

void SkinByteWriter::U32(std::uint32_t Value) {
    for (int i = 0; i < 4; ++i)
        FData.push_back(static_cast<char>((Value >> (8 * i)) & 0xFF));
}

void SkinByteWriter::String(std::string_view Value) {
    U32(static_cast<std::uint32_t>(Value.size()));
    FData.append(Value);
}

} // namespace kv::skin
