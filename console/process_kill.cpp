#include "console/process_kill.h"

#include <exception>
#include <string>

namespace kv::console {

std::string asciiUpper(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

bool exeNameMatches(std::string_view exeFile, std::string_view wanted) {
    const std::string wantedUpper = asciiUpper(wanted);
    const auto cut = exeFile.find_last_of("\\/:");
    const std::string_view filePart =
        cut == std::string_view::npos ? exeFile : exeFile.substr(cut + 1);
    return asciiUpper(filePart) == wantedUpper || asciiUpper(exeFile) == wantedUpper;
}

bool killProcessesNamed(platform::ProcessTable& processes, std::string_view name) {
    bool result = false;
    try {
        auto snapshot = processes.snapshot();
        if (!snapshot)
            return false;
        for (const auto& entry : *snapshot) {
            if (!exeNameMatches(entry.exeFile, name))
                continue;
            // A process that cannot be opened makes the termination fail: it counts as the last
            // attempt and the scan goes on.
            auto handle = processes.openForTerminate(entry.pid);
            if (!handle) {
                result = false;
                continue;
            }
            result = processes.terminate(*handle, 0).ok();
            (void)processes.close(*handle);
        }
    } catch (const std::exception&) {
        // Whatever goes wrong in the scan is dropped; the result reached so far stands.
    }
    return result;
}

} // namespace kv::console
