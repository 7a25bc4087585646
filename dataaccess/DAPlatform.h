#pragma once
// What the data-access layer needs of the machine beyond OLE DB: the registry (stored logins,
// discovery), the computer name and the discovery target. The program hands its platform
// object over at start-up; without one, the stored logins and the registry and network sources
// of discovery are skipped as if their keys and servers did not exist.
//
// The application title names the key of the stored logins. The user-interface module installs
// the application object's title; until then it is the executable's name without extension.

#include <functional>
#include <string>

namespace kv::platform {
class Platform;
}

namespace kv::dataaccess {

// Not owned; must outlive every use. Null removes it.
void SetDataAccessPlatform(kv::platform::Platform* Platform);
kv::platform::Platform* DataAccessPlatform();

std::function<std::string()>& ApplicationTitleHook();
std::string ApplicationTitle();

} // namespace kv::dataaccess
