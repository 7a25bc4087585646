#pragma once
// The stand-in's database file format: a small paged format of its own, so that a consistency
// check can find damage, a repair can drop damaged pages, and an attach can tell a log file that
// belongs to another data file.
//
// A file is a sequence of 8 KB pages. Page 0 is the file header: it names the database, the
// file's role (data or log), the file's identity (16 random bytes), the creating server's
// database version, whether the database was shut down cleanly and, in a data file, the objects
// (tables) whose pages the file holds. A log file's header records the identity of its data
// file. Every page starts with a 20-byte page header (magic, page number, type, index id, row
// count, object id, CRC-32 of the page) followed by rows as text.
//
// The functions work on an open file, so the server can read and write through its file hold.

#include "platform/FileHold.h"
#include "platform/Result.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kv::standin::dbfile {

inline constexpr std::size_t PageSize = 8192;

enum class Role : std::uint8_t { Data = 1, Log = 2 };
using FileId = std::array<std::uint8_t, 16>;

struct ObjectInfo {
    std::int32_t id = 0;
    std::string name;
};

struct Header {
    Role role = Role::Data;
    std::string database;
    FileId id{};
    FileId dataId{}; // log files: the identity of the data file they belong to
    std::uint32_t pages = 0;
    // Data files: pages 1 to `allocated` belong to the tables, the pages after them are free
    // space that no table has taken. 0: not recorded (every page counts as allocated).
    std::uint32_t allocated = 0;
    std::uint16_t version = 539; // 539 = SQL Server 2000, 611 = 2005
    bool clean = true;
    // Data files: when a consistency check last found the database clean, as SQL Server 2005
    // keeps it in the boot page (dbi_dbccLastKnownGood), "YYYY-MM-DD hh:mm:ss.mmm" in the
    // server's local time; empty when no check ever did.
    std::string lastKnownGood;
    std::vector<ObjectInfo> objects;
};

// Sample rows of one table for a new file.
struct TableContent {
    ObjectInfo object;
    std::vector<std::string> rows;
};

FileId newFileId();
std::string fileIdText(const FileId& id);

enum class ReadError { None, NotDatabaseFile, Corrupt, Io };

// The writers fail with the Windows number of the failed write (DiskFull 112 when the disk had
// no room) and a message naming the page.

using File = platform::FileHold;

// Writes a complete data file: header, the tables' pages (rows spread over pages), then free
// pages up to `totalPages`.
platform::Result<void> writeDataFile(File& file, const Header& header,
                                     const std::vector<TableContent>& tables,
                                     std::uint32_t totalPages);
// Writes a fresh log file for the data file `dataId`.
platform::Result<void> writeLogFile(File& file, const std::string& database, const FileId& dataId,
                                    std::uint16_t version, std::uint32_t totalPages);

std::optional<Header> readHeader(File& file, ReadError& kind, std::string& error);
// Rewrites page 0 with a changed header (clean flag, version, name).
platform::Result<void> writeHeader(File& file, const Header& header);

struct PageProblem {
    std::uint32_t page = 0;
    std::int32_t objectId = 0;
    int indexId = 0;
    bool wrongPageId = false;
    std::uint32_t pageIdInHeader = 0;
};

struct ObjectStats {
    std::uint64_t rows = 0;
    std::uint64_t pages = 0;
};

struct CheckReport {
    std::uint32_t pages = 0;
    std::vector<PageProblem> problems;
    std::map<std::int32_t, ObjectStats> objects;
};

CheckReport check(File& file, const Header& header);
// Rewrites the given pages as empty pages of their object (their rows are lost), each written
// through before the next.
platform::Result<void> repair(File& file, const std::vector<PageProblem>& pages);
// Damages up to `count` healthy data pages (their checksums no longer match); returns how many.
int damage(File& file, const Header& header, int count, std::string& error);

// The demo database's tables and a new database's system tables.
std::vector<TableContent> demoTables(int rowsPerTable);
std::vector<TableContent> systemTables();

} // namespace kv::standin::dbfile
