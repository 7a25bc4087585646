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

void SkinByteWriter::U32(std::uint32_t Value) {
    for (int i = 0; i < 4; ++i)
        FData.push_back(static_cast<char>((Value >> (8 * i)) & 0xFF));
}

void SkinByteWriter::String(std::string_view Value) {
    U32(static_cast<std::uint32_t>(Value.size()));
    FData.append(Value);
}

} // namespace kv::skin
