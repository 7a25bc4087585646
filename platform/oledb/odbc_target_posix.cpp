// Where the ODBC transport connects on POSIX systems: names are resolved on the simulated host
// as for the db-lib transport (the host's freetds.conf, loopback only), and go to the driver
// unchanged where no simulated host is set. The driver is FreeTDS's, by the name it is registered
// under in unixODBC's driver list (ODBCSYSINI/ODBCINSTINI), unless KELVORA_ODBC_DRIVER names
// others (a list separated by ';').
#include "platform/oledb/odbc_link.h"

#include <cstdlib>
#include <unistd.h>

namespace kv::oledb::odbc {

Target targetOf(std::string_view serverName) {
    Target t;
    if (auto resolver = ServerNameResolver::forSimulatedHost()) {
        if (auto endpoint = resolver->resolve(serverName)) {
            t.kind = Target::Kind::Endpoint;
            t.server = endpoint->address;
            t.port = endpoint->port;
            t.tdsVersion = endpoint->tdsVersion;
        }
        return t;
    }
    t.kind = Target::Kind::AsGiven;
    t.server = std::string(serverName);
    return t;
}

std::vector<std::string> driverNames() {
    std::vector<std::string> names;
    if (const char* list = std::getenv("KELVORA_ODBC_DRIVER")) {
        names = splitDriverList(list);
    }
    if (names.empty()) {
        names.push_back("FreeTDS");
    }
    return names;
}

std::string workstationName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0) {
        return name;
    }
    return {};
}

} // namespace kv::oledb::odbc
