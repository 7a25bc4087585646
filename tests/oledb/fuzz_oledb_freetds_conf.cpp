// Fuzz target: the host's freetds.conf as the provider reads it, and the server names resolved
// through it. Whatever the file says, a name leads to a loopback address or nowhere.
#include "platform/oledb/server_names.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kv::oledb;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto servers = parseFreeTdsConf(text);
    std::vector<std::string> names = {"KELVORA-PC",
                                      "(local)",
                                      ".",
                                      "localhost",
                                      "KELVORA-PC\\SQLEXPRESS",
                                      "127.0.0.1,1433",
                                      "127.0.0.1:1433",
                                      "10.0.0.1,1433"};
    for (const auto& s : servers) {
        names.push_back(s.name);
        names.push_back(s.host);
        names.push_back("KELVORA-PC\\" + s.instance);
    }
    const ServerNameResolver resolver(std::move(servers), "KELVORA-PC");
    (void)resolver.serverNames();
    for (const auto& name : names)
        if (const auto endpoint = resolver.resolve(name))
            if (!isLoopbackHost(endpoint->address) || endpoint->port <= 0 || endpoint->port > 65535)
                std::abort();
    return 0;
}
