#include "platform/Program.h"

namespace kv::platform {

std::string programFileName() {
    const std::string path = programPath();
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace kv::platform
