#include "console/zip_writer.h"

#include <cstdint>
#include <limits>
#include <zlib.h>

namespace kv::console {

namespace {

void put16(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// MS-DOS date and time (local time is what zip tools show; the bundle's time is UTC, which
// its summary says). Times before 1980 cannot be written and become 1980-01-01.
void dosTime(std::chrono::system_clock::time_point when, std::uint32_t& date, std::uint32_t& time) {
    const auto days = std::chrono::floor<std::chrono::days>(when);
    const std::chrono::year_month_day ymd{days};
    const std::chrono::hh_mm_ss clock{std::chrono::floor<std::chrono::seconds>(when - days)};
    const int year = static_cast<int>(ymd.year());
    if (year < 1980 || year > 2107) {
        date = (1 << 5) | 1;
        time = 0;
        return;
    }
    date = (static_cast<std::uint32_t>(year - 1980) << 9) |
           (static_cast<std::uint32_t>(static_cast<unsigned>(ymd.month())) << 5) |
           static_cast<unsigned>(ymd.day());
    time = (static_cast<std::uint32_t>(clock.hours().count()) << 11) |
           (static_cast<std::uint32_t>(clock.minutes().count()) << 5) |
           static_cast<std::uint32_t>(clock.seconds().count() / 2);
}

// Raw deflate (no zlib header), as zip's method 8 wants it.
std::optional<std::string> deflated(std::string_view data) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return std::nullopt;
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&z, Z_FINISH);
    const auto written = z.total_out;
    deflateEnd(&z);
    if (result != Z_STREAM_END)
        return std::nullopt;
    out.resize(written);
    return out;
}

} // namespace

std::optional<std::string> makeZip(const std::vector<ZipEntry>& entries,
                                   std::chrono::system_clock::time_point modified,
                                   std::string& error) {
    constexpr std::uint64_t Limit = std::numeric_limits<std::uint32_t>::max();
    if (entries.size() > 0xFFFF) {
        error = "too many entries for a zip without zip64";
        return std::nullopt;
    }
    std::uint32_t date = 0, time = 0;
    dosTime(modified, date, time);
    std::string archive;
    std::string directory;
    for (const auto& entry : entries) {
        if (entry.name.empty() || entry.name.size() > 0xFFFF || entry.data.size() >= Limit) {
            error = "the entry " + entry.name + " cannot be written into a zip";
            return std::nullopt;
        }
        const auto crc = static_cast<std::uint32_t>(
            crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(entry.data.data()),
                  static_cast<uInt>(entry.data.size())));
        auto packed = deflated(entry.data);
        const bool deflate = packed && packed->size() < entry.data.size();
        const std::string_view body = deflate ? std::string_view(*packed) : entry.data;
        const std::uint32_t method = deflate ? 8 : 0;
        const std::uint64_t offset = archive.size();
        if (offset + 30 + entry.name.size() + body.size() >= Limit) {
            error = "the bundle would be too large for a zip without zip64";
            return std::nullopt;
        }
        constexpr std::uint32_t Utf8Names = 0x0800;
        // Local file header.
        put32(archive, 0x04034b50);
        put16(archive, 20); // version needed: 2.0 (deflate)
        put16(archive, Utf8Names);
        put16(archive, method);
        put16(archive, time);
        put16(archive, date);
        put32(archive, crc);
        put32(archive, static_cast<std::uint32_t>(body.size()));
        put32(archive, static_cast<std::uint32_t>(entry.data.size()));
        put16(archive, static_cast<std::uint32_t>(entry.name.size()));
        put16(archive, 0);
        archive += entry.name;
        archive += body;
        // Its central directory record.
        put32(directory, 0x02014b50);
        put16(directory, 20); // made by: MS-DOS attributes, version 2.0
        put16(directory, 20);
        put16(directory, Utf8Names);
        put16(directory, method);
        put16(directory, time);
        put16(directory, date);
        put32(directory, crc);
        put32(directory, static_cast<std::uint32_t>(body.size()));
        put32(directory, static_cast<std::uint32_t>(entry.data.size()));
        put16(directory, static_cast<std::uint32_t>(entry.name.size()));
        put16(directory, 0); // extra
        put16(directory, 0); // comment
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, 0); // external attributes
        put32(directory, static_cast<std::uint32_t>(offset));
        directory += entry.name;
    }
    if (archive.size() + directory.size() + 22 >= Limit) {
        error = "the bundle would be too large for a zip without zip64";
        return std::nullopt;
    }
    const auto directoryOffset = static_cast<std::uint32_t>(archive.size());
    archive += directory;
    // End of central directory.
    put32(archive, 0x06054b50);
    put16(archive, 0);
    put16(archive, 0);
    put16(archive, static_cast<std::uint32_t>(entries.size()));
    put16(archive, static_cast<std::uint32_t>(entries.size()));
    put32(archive, static_cast<std::uint32_t>(directory.size()));
    put32(archive, directoryOffset);
    put16(archive, 0);
    return archive;
}

} // namespace kv::console
