#include "console/preflight.h"

#include "console/repair_statements.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace kv::console {

namespace {

using namespace repair;

constexpr const char* ProductFolder = "C:\\Kelvora\\Data";
constexpr const char* ScratchFolder = "C:\\";

std::string driveOf(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':')
        return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(path[0]))));
    return path;
}

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::uint64_t sizeOf(platform::FileSystem& files, const char* path) {
    return files.fileSize(path).valueOr(0);
}

// The first program other than the database service that holds `path`, if any.
std::optional<platform::FileHolder> otherHolder(platform::FileSystem& files, const char* path) {
    auto holders = files.fileHolders(path);
    if (!holders)
        return std::nullopt;
    for (auto& holder : *holders)
        if (!sameText(holder.service, DatabaseServiceName))
            return holder;
    return std::nullopt;
}

std::string heldLine(const char* path, const platform::FileHolder& holder) {
    const std::string program =
        holder.program.empty() ? "işlem " + std::to_string(holder.pid) : holder.program;
    return std::string(path) + " dosyası başka bir programda açık: " + program + ".";
}

// Whether an earlier run's scratch file stands in the way: a folder of that name, a read-only
// file, or one another program holds.
std::optional<PreflightRefusal> scratchObstacle(platform::FileSystem& files, const char* path) {
    auto info = files.fileInfo(path);
    if (!info)
        return std::nullopt; // not there (or not known): nothing to remove
    if (info->folder)
        return PreflightRefusal{Refusal::ScratchName,
                                std::string(path) + " adında bir klasör var; geçici dosya için "
                                                    "yer açılamıyor."};
    if (auto holder = otherHolder(files, path))
        return PreflightRefusal{Refusal::FileHeld, heldLine(path, *holder)};
    if (info->readOnly)
        return PreflightRefusal{Refusal::ScratchName,
                                std::string("Eski geçici dosya silinemiyor: ") + path +
                                    " (salt okunur)."};
    return std::nullopt;
}

} // namespace

std::string sizeText(std::uint64_t bytes, bool roundUp) {
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    std::uint64_t unit = 1024;
    std::size_t index = 0;
    while (index + 1 < std::size(units) && bytes >= unit * 1024) {
        unit *= 1024;
        ++index;
    }
    const auto divide = [&](std::uint64_t value, std::uint64_t by) {
        return roundUp ? (value + by - 1) / by : value / by;
    };
    // Tenths of the unit, so that one decimal can be shown below ten; kilobytes are whole.
    const std::uint64_t tenths = divide(bytes * 10, unit);
    if (index == 0 || tenths >= 100)
        return std::to_string(divide(bytes, unit)) + " " + units[index];
    if (tenths % 10 == 0)
        return std::to_string(tenths / 10) + " " + units[index];
    return std::to_string(tenths / 10) + "," + std::to_string(tenths % 10) + " " + units[index];
}

std::vector<SpaceNeed> spaceNeeded(platform::FileSystem& files, RebuildPath path) {
    const std::uint64_t data = sizeOf(files, ProductDataRenamePath);
    const std::uint64_t log = sizeOf(files, ProductLogPath);
    std::vector<std::pair<std::string, std::uint64_t>> writes;
    if (path == RebuildPath::FromScratch) {
        writes = {{ScratchFolder, ScratchDatabaseBytes + data},
                  {ProductFolder, data + std::max(log, NewLogBytes)}};
    } else {
        writes = {{ProductFolder, data + log + NewLogBytes}};
    }
    std::vector<SpaceNeed> needs;
    for (const auto& [folder, bytes] : writes) {
        auto same = std::find_if(needs.begin(), needs.end(), [&](const SpaceNeed& need) {
            return driveOf(need.folder) == driveOf(folder);
        });
        if (same == needs.end())
            needs.push_back({folder, bytes});
        else
            same->bytes += bytes;
    }
    for (auto& need : needs)
        need.bytes += std::max(MinimumMarginBytes, need.bytes / 10);
    return needs;
}

std::optional<PreflightRefusal> checkBeforeRebuild(platform::FileSystem& files,
                                                   int serverMajorVersion) {
    if (serverMajorVersion <= 0)
        return PreflightRefusal{Refusal::ServerVersion, "Server sürümü okunamadı."};
    const RebuildPath path = serverMajorVersion >= FirstInPlaceRebuildVersion
                                 ? RebuildPath::InPlace
                                 : RebuildPath::FromScratch;

    for (const char* file : {ProductDataRenamePath, ProductLogPath})
        if (auto holder = otherHolder(files, file))
            return PreflightRefusal{Refusal::FileHeld, heldLine(file, *holder)};

    if (path == RebuildPath::FromScratch)
        for (const char* leftover : {ScratchDataLeftover, ScratchLogLeftover})
            if (auto obstacle = scratchObstacle(files, leftover))
                return obstacle;

    for (const auto& need : spaceNeeded(files, path)) {
        auto free = files.freeSpace(need.folder);
        if (free && *free < need.bytes)
            return PreflightRefusal{Refusal::DiskSpace, "Diskte " + sizeText(need.bytes, true) +
                                                            " boş yer gerekiyor, " +
                                                            sizeText(*free, false) + " var."};
    }
    return std::nullopt;
}

} // namespace kv::console
