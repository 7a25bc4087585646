// Fuzz target: the stand-in's database files. The bytes are a file (in memory, through a
// memfd, opened again by its /proc/self/fd name as the platform's file): its header is read, its
// pages checked, the damaged ones repaired, and the repaired file must then check clean. With the
// low bit of byte 0 set, every whole page gets a matching checksum first, so that the readers
// behind the checksum test see the bytes as well.
#include "simulator/standin/DbFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

using namespace kv::standin;

// A page's checksum: CRC-32 of the page with its own four bytes (16..19) taken as zero.
void seal(std::uint8_t* page) {
    for (int i = 16; i < 20; ++i)
        page[i] = 0;
    const auto crc = static_cast<std::uint32_t>(::crc32(0, page, dbfile::PageSize));
    for (int i = 0; i < 4; ++i)
        page[16 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
}

class MemoryFile {
public:
    MemoryFile() : fd_(::memfd_create("kv-fuzz-dbfile", MFD_CLOEXEC)) {
        if (fd_ < 0)
            std::abort();
        auto opened = kv::platform::FileHold::openShared("/proc/self/fd/" + std::to_string(fd_));
        if (!opened)
            std::abort();
        file_.emplace(std::move(opened).value());
    }
    ~MemoryFile() { ::close(fd_); }
    kv::platform::FileHold& file() { return *file_; }
    void fill(const std::vector<std::uint8_t>& bytes) {
        if (::ftruncate(fd_, 0) != 0 ||
            ::pwrite(fd_, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
            std::abort();
    }

private:
    int fd_;
    std::optional<kv::platform::FileHold> file_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // No file of ours is larger than a few pages here; a long input only costs time.
    if (size > 16 * dbfile::PageSize)
        return 0;
    std::vector<std::uint8_t> bytes(data + 1, data + size);
    if (data[0] & 1)
        for (std::size_t at = 0; at + dbfile::PageSize <= bytes.size(); at += dbfile::PageSize)
            seal(bytes.data() + at);
    static MemoryFile file;
    file.fill(bytes);

    dbfile::ReadError kind = dbfile::ReadError::None;
    std::string error;
    const auto header = dbfile::readHeader(file.file(), kind, error);
    if (!header) {
        if (kind == dbfile::ReadError::None || error.empty())
            std::abort();
        return 0;
    }
    (void)dbfile::fileIdText(header->id);
    const auto report = dbfile::check(file.file(), *header);
    if (report.problems.empty())
        return 0;
    if (!dbfile::repair(file.file(), report.problems))
        std::abort();
    if (!dbfile::check(file.file(), *header).problems.empty())
        std::abort(); // a repaired file checks clean
    return 0;
}
