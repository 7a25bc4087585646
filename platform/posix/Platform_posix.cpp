#include "platform/Platform.h"

namespace kv::platform {

std::unique_ptr<Platform> createPlatform() {
    throw PlatformError("the simulated host backend is not built yet (KELVORA_HOST)");
}

} // namespace kv::platform
