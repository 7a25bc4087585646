#include "dataaccess/DAPlatform.h"

#include "dataaccess/OLEDBAccess.h"

namespace kv::dataaccess {

namespace {
kv::platform::Platform* currentPlatform = nullptr;
}

void SetDataAccessPlatform(kv::platform::Platform* Platform) {
    currentPlatform = Platform;
}

kv::platform::Platform* DataAccessPlatform() {
    return currentPlatform;
}

std::function<std::string()>& ApplicationTitleHook() {
    static std::function<std::string()> hook;
    return hook;
}

std::string ApplicationTitle() {
    if (ApplicationTitleHook())
        return ApplicationTitleHook()();
    std::string name = ApplicationExeName();
    if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

} // namespace kv::dataaccess
