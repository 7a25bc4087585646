#include "platform/Program.h"

#include <filesystem>
#include <system_error>

namespace kv::platform {

std::string programPath() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : self.string();
}

} // namespace kv::platform
