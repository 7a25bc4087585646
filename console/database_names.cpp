#include "console/database_names.h"

#include <chrono>
#include <random>

namespace kv::console {

int freeRepairSuffix(platform::FileSystem& files, int drawn,
                     std::initializer_list<std::string_view> names) {
    const auto taken = [&](int n) {
        const std::string digits = std::to_string(n);
        for (const auto name : names) {
            const std::string numbered = std::string(name) + digits;
            if (files.fileExists(numbered) || files.folderExists(numbered))
                return true;
        }
        return false;
    };
    if (drawn < RepairSuffixMin || drawn > RepairSuffixMax)
        drawn = RepairSuffixMin;
    const int range = RepairSuffixMax - RepairSuffixMin + 1;
    for (int i = 0; i < range; ++i) {
        const int n = RepairSuffixMin + (drawn - RepairSuffixMin + i) % range;
        if (!taken(n))
            return n;
    }
    for (int n = RepairSuffixMax + 1;; ++n)
        if (!taken(n))
            return n;
}

int drawRepairSuffix() {
    static std::mt19937 generator(static_cast<std::mt19937::result_type>(
        std::random_device{}() ^
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())));
    std::uniform_int_distribution<int> range(RepairSuffixMin, RepairSuffixMax);
    return range(generator);
}

} // namespace kv::console
