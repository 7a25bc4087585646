// Bounds-checked little-endian reading and writing of the skin formats' integers and strings.
// A read past the end, or a length larger than what is left, raises EReadError naming what was
// being read and where; nothing is allocated beyond the bytes actually present.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::skin {

class SkinByteReader {
public:
    explicit SkinByteReader(std::string_view Data) : FData(Data) {}

    size_t Position() const { return FPos; }
    size_t Remaining() const { return FData.size() - FPos; }
    bool AtEnd() const { return FPos >= FData.size(); }

    std::uint32_t U32(const char* What);
    std::int32_t I32(const char* What) { return static_cast<std::int32_t>(U32(What)); }
    std::string_view Bytes(size_t Count, const char* What);
    // A 32-bit length and that many 8-bit characters.
    std::string String(const char* What);

    [[noreturn]] void Fail(const std::string& Message) const;

private:
    std::string_view FData;
    size_t FPos = 0;
};

// Text from a skin as a message may show it: unchanged when it is readable text (UTF-8 without
// control characters), otherwise each control character and each byte that is not UTF-8 is
// named instead of copied ("(byte 0x0B)"), so a damaged skin never puts raw bytes on a terminal.
std::string ReadableText(std::string_view Text);

class SkinByteWriter {
public:
    void U32(std::uint32_t Value);
    void I32(std::int32_t Value) { U32(static_cast<std::uint32_t>(Value)); }
    void Bytes(std::string_view Data) { FData.append(Data); }
    void String(std::string_view Value);
    std::string& Data() { return FData; }

private:
    std::string FData;
};

} // namespace kv::skin
