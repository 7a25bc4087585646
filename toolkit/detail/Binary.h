// Bounds-checked little-endian byte reading and writing for the binary component form.
// Every failed read raises EReadError naming what was expected and where.
#pragma once

#include "toolkit/ObjectText.h"
#include "toolkit/SysUtils.h"
#include "toolkit/detail/Number.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kv::toolkit {

// Deepest nesting of objects and values a reader accepts.
constexpr int kMaxStreamDepth = 128;

class ByteReader {
public:
    explicit ByteReader(std::string_view Data, const TTextPositionMap* Positions = nullptr)
        : data_(Data), positions_(Positions) {}

    size_t pos() const { return pos_; }
    bool atEnd() const { return pos_ >= data_.size(); }
    size_t remaining() const { return data_.size() - pos_; }

    std::uint8_t peek() const {
        if (atEnd())
            fail("Unexpected end of stream");
        return static_cast<std::uint8_t>(data_[pos_]);
    }
    std::uint8_t u8() {
        const std::uint8_t b = peek();
        ++pos_;
        return b;
    }
    std::uint64_t le(int n) {
        need(static_cast<size_t>(n));
        std::uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i)
            v = (v << 8) | static_cast<std::uint8_t>(data_[pos_ + static_cast<size_t>(i)]);
        pos_ += static_cast<size_t>(n);
        return v;
    }
    std::int8_t i8() { return static_cast<std::int8_t>(u8()); }
    std::int16_t i16() { return static_cast<std::int16_t>(le(2)); }
    std::int32_t i32() { return static_cast<std::int32_t>(le(4)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(le(4)); }
    std::int64_t i64() { return static_cast<std::int64_t>(le(8)); }
    std::string_view bytes(size_t n) {
        need(n);
        std::string_view r = data_.substr(pos_, n);
        pos_ += n;
        return r;
    }
    std::string shortStr() { return std::string(bytes(u8())); }
    Extended80 extended() {
        std::string_view b = bytes(10);
        Extended80 e{};
        for (size_t i = 0; i < 10; ++i)
            e[i] = static_cast<std::uint8_t>(b[i]);
        return e;
    }

    [[noreturn]] void fail(const std::string& What) const { failAt(What, pos_); }
    [[noreturn]] void failAt(const std::string& What, size_t Offset) const;
    // " at offset N" or " on line L, column C" for a byte offset.
    std::string where(size_t Offset) const;

private:
    void need(size_t n) const {
        if (n > remaining())
            fail("Unexpected end of stream (" + std::to_string(n) + " bytes needed, " +
                 std::to_string(remaining()) + " left)");
    }

    std::string_view data_;
    size_t pos_ = 0;
    const TTextPositionMap* positions_;
};

class ByteWriter {
public:
    std::string& data() { return out_; }
    size_t pos() const { return out_.size(); }
    void u8(std::uint8_t b) { out_.push_back(static_cast<char>(b)); }
    void le(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            out_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
    void bytes(std::string_view b) { out_.append(b); }
    // A length-prefixed name (one length byte); false when longer than 255 bytes.
    bool shortStr(std::string_view s) {
        if (s.size() > 255)
            return false;
        u8(static_cast<std::uint8_t>(s.size()));
        bytes(s);
        return true;
    }
    // Integer in its smallest kind.
    void integer(std::int64_t v);

private:
    std::string out_;
};

} // namespace kv::toolkit
