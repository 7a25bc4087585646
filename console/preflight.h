#pragma once
// The check before the emergency rebuild: whether the rebuild can run to its end on this
// machine, asked before it changes anything (no statement, no service stop, no file step).
//
//   - the server's version is known, since it decides which rebuild runs (SQL Server 2000
//     rebuilds from a scratch database in C:\, 2005 and later repair the product files where
//     they are);
//   - neither product file is open in a program other than the SQL Server service (the server's
//     own hold ends when the rebuild detaches the database);
//   - for the rebuild from scratch, the scratch files an earlier run left in C:\ can be removed;
//   - the drive has room for everything the rebuild writes (see spaceNeeded), with a margin.
//
// A question the file system cannot answer (fileInfo, freeSpace or fileHolders failing) counts as
// no objection: the rebuild's own steps still stop safely where a file step fails.

#include "console/guidance.h"
#include "platform/FileSystem.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::console {

// The service whose hold on the product files is the server's own.
inline constexpr const char* DatabaseServiceName = "MSSQLSERVER";
// SQL Server 2005 reports major version 9: from there on the rebuild repairs in place.
inline constexpr int FirstInPlaceRebuildVersion = 9;

enum class RebuildPath { FromScratch, InPlace };

// What the rebuild writes on one volume, named by a folder on it.
struct SpaceNeed {
    std::string folder;
    std::uint64_t bytes = 0; // with the margin
};

// Room for the scratch database the server creates (SQL Server 2000's model makes about 1 MB),
// for a new log the server builds, and the margin on top of the sum: 10 %, at least 64 MiB,
// for the log the repair writes and for what other programs write meanwhile.
inline constexpr std::uint64_t ScratchDatabaseBytes = 8ull << 20;
inline constexpr std::uint64_t NewLogBytes = 8ull << 20;
inline constexpr std::uint64_t MinimumMarginBytes = 64ull << 20;

// The bytes the rebuild of `path` writes, per volume:
//   from scratch: the scratch database, the product data file copied over the scratch data file,
//     the rebuilt file copied to the product path (the old one stays under its numbered name),
//     and the log (a new one, or a copy where the old one cannot be renamed aside);
//   in place: verified copies of the data file and of the log file, and a new log.
// The product folder and the root of drive C count as one volume when they are on one drive.
std::vector<SpaceNeed> spaceNeeded(platform::FileSystem& files, RebuildPath path);

struct PreflightRefusal {
    Refusal reason = Refusal::DiskSpace;
    // One log line that says what is missing and how much.
    std::string line;
};

// nullopt when the rebuild may start. `serverMajorVersion` is what the server reported at
// connect, 0 when unknown.
std::optional<PreflightRefusal> checkBeforeRebuild(platform::FileSystem& files,
                                                   int serverMajorVersion);

// A size as the log writes it: "1,2 GB", "300 MB", "12 KB" (units of 1024, a decimal comma,
// one decimal below ten). `roundUp` for what is needed, down for what there is, so that the
// line never claims more room than there is.
std::string sizeText(std::uint64_t bytes, bool roundUp);

} // namespace kv::console
