// Server names on the simulated host. The console names SQL Server the Windows way: the
// computer name, "(local)", ".", a named instance "PC\INST", an address with a port. On the
// simulated host every one of them must end at a loopback address and a port written in the
// host's freetds.conf; a name that the file does not know is not looked up anywhere else
// (FreeTDS would ask the resolver, which is network traffic and slow), so it reads as a server
// that does not exist.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::oledb {

// One [section] of a freetds.conf file.
struct FreeTdsServer {
    std::string name;
    std::string host;
    int port = 0; // 0: not given
    std::string tdsVersion;
    std::string instance;
};

std::vector<FreeTdsServer> parseFreeTdsConf(std::string_view text);

// Where a server name leads: a loopback address and a port, plus the TDS version the section
// asks for ("" = FreeTDS's choice).
struct ServerEndpoint {
    std::string address;
    int port = 0;
    std::string tdsVersion;
    // "address:port": the form db-lib's dbopen takes without consulting any configuration.
    std::string dblibName() const { return address + ":" + std::to_string(port); }
};

class ServerNameResolver {
public:
    ServerNameResolver(std::vector<FreeTdsServer> servers, std::string computerName);

    // The resolver of the host named by KELVORA_HOST, read afresh (the stand-in rewrites its
    // freetds.conf when it starts). nullopt when no simulated host is set: names then go to
    // FreeTDS unchanged.
    static std::optional<ServerNameResolver> forSimulatedHost();
    static ServerNameResolver fromFolder(const std::filesystem::path& hostFolder);

    // nullopt: unknown here (report the server as unreachable).
    std::optional<ServerEndpoint> resolve(std::string_view serverName) const;

    // The section names, in file order (the sources enumerator lists them).
    std::vector<std::string> serverNames() const;

private:
    const FreeTdsServer* find(std::string_view name) const;
    std::optional<ServerEndpoint> endpointOf(const FreeTdsServer& server) const;

    std::vector<FreeTdsServer> servers_;
    std::string computerName_;
};

// True for a dotted IPv4 address in 127.0.0.0/8, and for "localhost".
bool isLoopbackHost(std::string_view host);

} // namespace kv::oledb
