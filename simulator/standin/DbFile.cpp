#include "simulator/standin/DbFile.h"

#include <algorithm>
#include <cstring>
#include <random>
#include <zlib.h>

namespace kv::standin::dbfile {

namespace {

constexpr char PageMagic[4] = {'K', 'V', 'P', 'G'};
constexpr char HeaderMagic[] = "KELVORA-STANDIN-DATABASE-FILE";
constexpr std::size_t PageHeaderSize = 20;

enum PageType : std::uint8_t { HeaderPage = 1, DataPage = 2, FreePage = 3, LogPage = 4 };

// The CRC-32 of ISO 3309 (polynomial 0xEDB88320 reflected, initial and final inversion).
std::uint32_t crc32Of(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    return static_cast<std::uint32_t>(::crc32(crc, data, static_cast<uInt>(size)));
}

void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

using Page = std::array<std::uint8_t, PageSize>;

void sealPage(Page& page) {
    put32(&page[16], 0);
    put32(&page[16], crc32Of(page.data(), page.size()));
}

// The checksum covers the page with its own four bytes taken as zero.
bool checksumMatches(const Page& page) {
    static constexpr std::uint8_t zero[4] = {0, 0, 0, 0};
    std::uint32_t crc = crc32Of(page.data(), 16);
    crc = crc32Of(zero, sizeof zero, crc);
    crc = crc32Of(page.data() + 20, page.size() - 20, crc);
    return crc == get32(&page[16]);
}

Page makePage(std::uint32_t number, PageType type, std::int32_t object, int index,
              const std::string& body, std::uint16_t rows) {
    Page page{};
    std::memcpy(page.data(), PageMagic, 4);
    put32(&page[4], number);
    page[8] = type;
    page[9] = static_cast<std::uint8_t>(index);
    page[10] = static_cast<std::uint8_t>(rows & 0xFF);
    page[11] = static_cast<std::uint8_t>(rows >> 8);
    put32(&page[12], static_cast<std::uint32_t>(object));
    std::memcpy(&page[PageHeaderSize], body.data(),
                std::min(body.size(), PageSize - PageHeaderSize));
    sealPage(page);
    return page;
}

platform::Result<void> writePage(File& file, std::uint32_t number, const Page& page) {
    const std::uint64_t at = std::uint64_t{number} * PageSize;
    auto written = file.writeAt(at, page.data(), PageSize);
    if (!written)
        return platform::Error{written.code(), "cannot write page " + std::to_string(number) +
                                                   ": " + written.error().message};
    return platform::success();
}

bool readPage(File& file, std::uint32_t number, Page& page) {
    const std::uint64_t at = std::uint64_t{number} * PageSize;
    auto got = file.readAt(at, page.data(), PageSize);
    return got && *got == PageSize;
}

std::string hex(const FileId& id) {
    return fileIdText(id);
}

bool parseHex(const std::string& text, FileId& id) {
    if (text.size() != 32)
        return false;
    for (std::size_t i = 0; i < 16; ++i) {
        unsigned v = 0;
        for (int k = 0; k < 2; ++k) {
            char c = text[2 * i + static_cast<std::size_t>(k)];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<unsigned>(c - 'a' + 10);
            else
                return false;
        }
        id[i] = static_cast<std::uint8_t>(v);
    }
    return true;
}

// The header page body is text: the magic line, then "key=value" lines, then one
// "object=ID NAME" line per table.
std::string headerBody(const Header& h) {
    std::string body = std::string(HeaderMagic) + "\n";
    body += std::string("role=") + (h.role == Role::Data ? "data" : "log") + "\n";
    body += "database=" + h.database + "\n";
    body += "id=" + hex(h.id) + "\n";
    if (h.role == Role::Log)
        body += "data_id=" + hex(h.dataId) + "\n";
    body += "pages=" + std::to_string(h.pages) + "\n";
    if (h.allocated > 0)
        body += "allocated=" + std::to_string(h.allocated) + "\n";
    body += "version=" + std::to_string(h.version) + "\n";
    body += std::string("clean=") + (h.clean ? "1" : "0") + "\n";
    if (!h.lastKnownGood.empty())
        body += "last_known_good=" + h.lastKnownGood + "\n";
    for (const auto& o : h.objects)
        body += "object=" + std::to_string(o.id) + " " + o.name + "\n";
    return body;
}

} // namespace

FileId newFileId() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    FileId id;
    for (auto& b : id)
        b = static_cast<std::uint8_t>(rng());
    return id;
}

std::string fileIdText(const FileId& id) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (auto b : id) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

platform::Result<void> writeHeader(File& file, const Header& header) {
    return writePage(file, 0, makePage(0, HeaderPage, 0, 0, headerBody(header), 0));
}

platform::Result<void> writeDataFile(File& file, const Header& headerIn,
                                     const std::vector<TableContent>& tables,
                                     std::uint32_t totalPages) {
    Header header = headerIn;
    header.role = Role::Data;
    header.objects.clear();
    for (const auto& t : tables)
        header.objects.push_back(t.object);
    std::uint32_t next = 1;
    std::vector<Page> pages;
    for (const auto& t : tables) {
        std::string body;
        std::uint16_t rows = 0;
        for (const auto& r : t.rows) {
            if (body.size() + r.size() + 1 > PageSize - PageHeaderSize - 64) {
                pages.push_back(makePage(next++, DataPage, t.object.id, 0, body, rows));
                body.clear();
                rows = 0;
            }
            body += r + "\n";
            ++rows;
        }
        pages.push_back(makePage(next++, DataPage, t.object.id, 0, body, rows));
    }
    header.pages = std::max(totalPages, next);
    header.allocated = next - 1;
    if (auto cut = file.resize(0); !cut)
        return cut;
    if (auto written = writeHeader(file, header); !written)
        return written;
    for (std::uint32_t i = 0; i < pages.size(); ++i)
        if (auto written = writePage(file, i + 1, pages[i]); !written)
            return written;
    for (std::uint32_t i = next; i < header.pages; ++i)
        if (auto written = writePage(file, i, makePage(i, FreePage, 0, 0, {}, 0)); !written)
            return written;
    (void)file.flush();
    return platform::success();
}

platform::Result<void> writeLogFile(File& file, const std::string& database, const FileId& dataId,
                                    std::uint16_t version, std::uint32_t totalPages) {
    Header header;
    header.role = Role::Log;
    header.database = database;
    header.id = newFileId();
    header.dataId = dataId;
    header.pages = std::max<std::uint32_t>(totalPages, 2);
    header.version = version;
    if (auto cut = file.resize(0); !cut)
        return cut;
    if (auto written = writeHeader(file, header); !written)
        return written;
    for (std::uint32_t i = 1; i < header.pages; ++i)
        if (auto written = writePage(file, i, makePage(i, LogPage, 0, 0, {}, 0)); !written)
            return written;
    (void)file.flush();
    return platform::success();
}

std::optional<Header> readHeader(File& file, ReadError& kind, std::string& error) {
    Page page{};
    if (!readPage(file, 0, page)) {
        kind = ReadError::NotDatabaseFile;
        error = "the file is shorter than one page";
        return std::nullopt;
    }
    const std::string magicLine = std::string(HeaderMagic) + "\n";
    if (std::memcmp(page.data(), PageMagic, 4) != 0 || page[8] != HeaderPage ||
        std::memcmp(&page[PageHeaderSize], magicLine.data(), magicLine.size()) != 0) {
        kind = ReadError::NotDatabaseFile;
        error = "no database file header";
        return std::nullopt;
    }
    if (!checksumMatches(page)) {
        kind = ReadError::Corrupt;
        error = "the header page's checksum does not match";
        return std::nullopt;
    }
    const char* begin = reinterpret_cast<const char*>(&page[PageHeaderSize]);
    const std::string body(begin, strnlen(begin, PageSize - PageHeaderSize));
    Header h;
    bool haveRole = false, haveId = false;
    std::size_t pos = magicLine.size();
    while (pos < body.size()) {
        std::size_t end = body.find('\n', pos);
        if (end == std::string::npos)
            end = body.size();
        const std::string line = body.substr(pos, end - pos);
        pos = end + 1;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "role") {
            haveRole = value == "data" || value == "log";
            h.role = value == "log" ? Role::Log : Role::Data;
        } else if (key == "database") {
            h.database = value;
        } else if (key == "id") {
            haveId = parseHex(value, h.id);
        } else if (key == "data_id") {
            (void)parseHex(value, h.dataId);
        } else if (key == "pages") {
            h.pages = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (key == "allocated") {
            h.allocated = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (key == "version") {
            h.version = static_cast<std::uint16_t>(std::strtoul(value.c_str(), nullptr, 10));
        } else if (key == "clean") {
            h.clean = value == "1";
        } else if (key == "last_known_good") {
            h.lastKnownGood = value;
        } else if (key == "object") {
            const auto sp = value.find(' ');
            if (sp != std::string::npos)
                h.objects.push_back(
                    {static_cast<std::int32_t>(std::strtol(value.c_str(), nullptr, 10)),
                     value.substr(sp + 1)});
        }
    }
    if (!haveRole || !haveId) {
        kind = ReadError::Corrupt;
        error = "the file header lacks its role or identity";
        return std::nullopt;
    }
    kind = ReadError::None;
    return h;
}

CheckReport check(File& file, const Header& header) {
    CheckReport report;
    for (const auto& o : header.objects)
        report.objects[o.id];
    // As SQL Server's check, this one reads the allocated pages only; free space is not looked at.
    const std::uint32_t last = header.allocated > 0 ? header.allocated : UINT32_MAX;
    for (std::uint32_t i = 1; i <= last; ++i) {
        Page page{};
        if (!readPage(file, i, page))
            break;
        ++report.pages;
        const std::uint32_t storedId = get32(&page[4]);
        const std::int32_t object = static_cast<std::int32_t>(get32(&page[12]));
        const bool magicOk = std::memcmp(page.data(), PageMagic, 4) == 0;
        if (!magicOk || !checksumMatches(page)) {
            report.problems.push_back({i, object, page[9], false, storedId});
            continue;
        }
        if (storedId != i) {
            report.problems.push_back({i, object, page[9], true, storedId});
            continue;
        }
        if (page[8] == DataPage) {
            auto& stats = report.objects[object];
            stats.pages += 1;
            stats.rows += static_cast<std::uint64_t>(page[10] | (page[11] << 8));
        }
    }
    return report;
}

platform::Result<void> repair(File& file, const std::vector<PageProblem>& pages) {
    // Written through, page by page, as SQL Server writes its pages: the rewritten pages reach the
    // disk before the repair reports them, and the rest of the file (a copy the console just made,
    // still in the page cache) is left to the system's own write-back.
    for (const auto& p : pages) {
        if (auto written =
                writePage(file, p.page, makePage(p.page, DataPage, p.objectId, p.indexId, {}, 0));
            !written)
            return written;
        if (auto through = file.flushRange(std::uint64_t{p.page} * PageSize, PageSize); !through)
            return platform::Error{through.code(), "cannot write page " + std::to_string(p.page) +
                                                       " through: " + through.error().message};
    }
    return platform::success();
}

int damage(File& file, const Header& header, int count, std::string& error) {
    // Healthy data pages, damaged from the middle of the file outwards so that every table
    // tends to get its share.
    std::vector<std::uint32_t> candidates;
    const std::uint32_t last = header.allocated > 0 ? header.allocated : UINT32_MAX;
    for (std::uint32_t i = 1; i <= last; ++i) {
        Page page{};
        if (!readPage(file, i, page))
            break;
        if (page[8] == DataPage && checksumMatches(page) && get32(&page[4]) == i)
            candidates.push_back(i);
    }
    int done = 0;
    const std::size_t n = candidates.size();
    for (std::size_t k = 0; k < n && done < count; ++k) {
        const std::uint32_t number = candidates[(k * 7 + n / 2) % n];
        Page page{};
        if (!readPage(file, number, page) || !checksumMatches(page))
            continue;
        for (std::size_t b = 200; b < 264; ++b)
            page[b] ^= 0x5A;
        if (auto written = writePage(file, number, page); !written) {
            error = written.error().message;
            return done;
        }
        ++done;
    }
    (void)file.flush();
    return done;
}

std::vector<TableContent> demoTables(int rowsPerTable) {
    static const char* drugs[] = {"Parol 500 mg tablet",    "Augmentin 1 g tablet",
                                  "Majezik 100 mg tablet",  "Arveles 25 mg tablet",
                                  "Coraspin 100 mg tablet", "Nexium 40 mg tablet"};
    static const char* names[] = {"Ayşe Yılmaz", "Mehmet Demir", "Zeynep Kaya",
                                  "Ali Çelik",   "Elif Şahin",   "Mustafa Öztürk"};
    std::vector<TableContent> tables{
        {{2101582525, "Stok"}, {}}, {{1977058079, "Hasta"}, {}}, {{2009058193, "Recete"}, {}}};
    for (int i = 0; i < rowsPerTable; ++i) {
        const std::string n = std::to_string(i + 1);
        tables[0].rows.push_back(n + "\t" + drugs[i % 6] + "\t" + std::to_string(10 + i % 90) +
                                 "\t" + std::string(120, '.'));
        tables[1].rows.push_back(n + "\t" + names[i % 6] + "\t1" + std::to_string(1000000 + i) +
                                 "\t" + std::string(120, '.'));
        tables[2].rows.push_back(n + "\t" + std::to_string(1 + i % rowsPerTable) + "\t" +
                                 drugs[(i * 5) % 6] + "\t" + std::string(120, '.'));
    }
    return tables;
}

std::vector<TableContent> systemTables() {
    std::vector<TableContent> tables{
        {{1, "sysobjects"}, {}}, {{2, "sysindexes"}, {}}, {{3, "syscolumns"}, {}}};
    for (int i = 0; i < 40; ++i) {
        tables[0].rows.push_back("object " + std::to_string(i));
        tables[1].rows.push_back("index " + std::to_string(i));
        tables[2].rows.push_back("column " + std::to_string(i));
    }
    return tables;
}

} // namespace kv::standin::dbfile
