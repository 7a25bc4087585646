#include "toolkit/detail/Binary.h"

#include "toolkit/Filer.h"

#include <algorithm>

namespace kv::toolkit {

std::string ByteReader::where(size_t Offset) const {
    if (positions_ != nullptr && !positions_->empty()) {
        auto it = std::upper_bound(
            positions_->begin(), positions_->end(), static_cast<std::int64_t>(Offset),
            [](std::int64_t off, const auto& entry) { return off < entry.first; });
        if (it != positions_->begin()) {
            --it;
            return " on line " + std::to_string(it->second.first) + ", column " +
                   std::to_string(it->second.second);
        }
    }
    return " at offset " + std::to_string(Offset);
}

void ByteReader::failAt(const std::string& What, size_t Offset) const {
    int line = -1;
    int column = -1;
    if (positions_ != nullptr && !positions_->empty()) {
        auto it = std::upper_bound(
            positions_->begin(), positions_->end(), static_cast<std::int64_t>(Offset),
            [](std::int64_t off, const auto& entry) { return off < entry.first; });
        if (it != positions_->begin()) {
            --it;
            line = it->second.first;
            column = it->second.second;
        }
    }
    throw EReadError(What + where(Offset), static_cast<std::int64_t>(Offset), line, column);
}

void ByteWriter::integer(std::int64_t v) {
    if (v >= INT8_MIN && v <= INT8_MAX) {
        u8(vaInt8);
        le(static_cast<std::uint64_t>(v), 1);
    } else if (v >= INT16_MIN && v <= INT16_MAX) {
        u8(vaInt16);
        le(static_cast<std::uint64_t>(v), 2);
    } else if (v >= INT32_MIN && v <= INT32_MAX) {
        u8(vaInt32);
        le(static_cast<std::uint64_t>(v), 4);
    } else {
        u8(vaInt64);
        le(static_cast<std::uint64_t>(v), 8);
    }
}

} // namespace kv::toolkit
