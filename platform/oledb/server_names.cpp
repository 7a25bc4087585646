#include "platform/oledb/server_names.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace kv::oledb {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return s;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return upper(a) == upper(b);
}

// A decimal port 1..65535; 0 for anything else.
int parsePort(std::string_view s) {
    s = trim(s);
    if (s.empty() || s.size() > 5) {
        return 0;
    }
    int value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535 ? value : 0;
}

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string computerNameOf(const std::filesystem::path& hostFolder) {
    const std::string text = readFile(hostFolder / "host.conf");
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::string_view l = trim(line);
        const auto eq = l.find('=');
        if (eq != std::string_view::npos && trim(l.substr(0, eq)) == "computer_name") {
            return upper(trim(l.substr(eq + 1)));
        }
    }
    return {};
}

bool isLocalAlias(std::string_view name) {
    return name == "(local)" || name == "." || equalNoCase(name, "localhost") ||
           name == "127.0.0.1";
}

} // namespace

bool isLoopbackHost(std::string_view host) {
    host = trim(host);
    if (equalNoCase(host, "localhost")) {
        return true;
    }
    int parts = 0;
    int first = -1;
    std::size_t i = 0;
    while (i <= host.size()) {
        std::size_t j = host.find('.', i);
        if (j == std::string_view::npos) {
            j = host.size();
        }
        const std::string_view part = host.substr(i, j - i);
        if (part.empty() || part.size() > 3 ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        const int value = std::atoi(std::string(part).c_str());
        if (value > 255) {
            return false;
        }
        if (parts == 0) {
            first = value;
        }
        ++parts;
        i = j + 1;
    }
    return parts == 4 && first == 127;
}

std::vector<FreeTdsServer> parseFreeTdsConf(std::string_view text) {
    std::vector<FreeTdsServer> servers;
    FreeTdsServer* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            const auto close = line.find(']');
            const std::string name(trim(line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
            // [global] holds defaults, not a server.
            if (equalNoCase(name, "global") || name.empty()) {
                current = nullptr;
                continue;
            }
            servers.push_back(FreeTdsServer{name, {}, 0, {}, {}});
            current = &servers.back();
            continue;
        }
        if (!current) {
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) {
            continue;
        }
        // FreeTDS ignores case and blanks inside keys ("tds version", "TDS_Version").
        std::string key;
        for (char c : line.substr(0, eq)) {
            if (!std::isspace(static_cast<unsigned char>(c)) && c != '_') {
                key.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
            }
        }
        const std::string value(trim(line.substr(eq + 1)));
        if (key == "host") {
            current->host = value;
        } else if (key == "port") {
            current->port = parsePort(value);
        } else if (key == "tdsversion") {
            current->tdsVersion = value;
        } else if (key == "instance") {
            current->instance = value;
        }
    }
    return servers;
}

ServerNameResolver::ServerNameResolver(std::vector<FreeTdsServer> servers, std::string computerName)
    : servers_(std::move(servers)), computerName_(upper(computerName)) {}

std::optional<ServerNameResolver> ServerNameResolver::forSimulatedHost() {
    const char* folder = std::getenv("KELVORA_HOST");
    if (!folder || !*folder) {
        return std::nullopt;
    }
    return fromFolder(folder);
}

ServerNameResolver ServerNameResolver::fromFolder(const std::filesystem::path& hostFolder) {
    return ServerNameResolver(parseFreeTdsConf(readFile(hostFolder / "freetds.conf")),
                              computerNameOf(hostFolder));
}

const FreeTdsServer* ServerNameResolver::find(std::string_view name) const {
    for (const auto& s : servers_) {
        if (equalNoCase(s.name, name)) {
            return &s;
        }
    }
    return nullptr;
}

std::optional<ServerEndpoint> ServerNameResolver::endpointOf(const FreeTdsServer& server) const {
    // A section that points away from this machine, or asks for an instance look-up (a UDP
    // request), is not followed: only loopback with a fixed port is reachable here.
    if (!isLoopbackHost(server.host) || server.port == 0 || !server.instance.empty()) {
        return std::nullopt;
    }
    const std::string address = equalNoCase(server.host, "localhost") ? "127.0.0.1" : server.host;
    return ServerEndpoint{address, server.port, server.tdsVersion};
}

std::optional<ServerEndpoint> ServerNameResolver::resolve(std::string_view serverName) const {
    std::string_view name = trim(serverName);
    if (name.size() > 4 && equalNoCase(name.substr(0, 4), "tcp:")) {
        name = trim(name.substr(4));
    }
    if (name.empty()) {
        name = "(local)";
    }
    // A section of exactly this name wins (this covers "PC\INST" sections too).
    if (const auto* s = find(name)) {
        return endpointOf(*s);
    }
    // "host,port" (the Windows client's form) and "host:port" (FreeTDS's form).
    const auto sep = name.find_last_of(",:");
    if (sep != std::string_view::npos) {
        const std::string_view host = trim(name.substr(0, sep));
        const int port = parsePort(name.substr(sep + 1));
        if (port == 0) {
            return std::nullopt;
        }
        if (isLoopbackHost(host)) {
            return ServerEndpoint{
                equalNoCase(host, "localhost") ? "127.0.0.1" : std::string(host), port, {}};
        }
        // The computer's own name with a port is still this machine.
        if (equalNoCase(host, computerName_) || isLocalAlias(host)) {
            return ServerEndpoint{"127.0.0.1", port, {}};
        }
        return std::nullopt;
    }
    // "PC\MSSQLSERVER" is the default instance of PC.
    std::string_view instance;
    const auto slash = name.find('\\');
    if (slash != std::string_view::npos) {
        instance = name.substr(slash + 1);
        name = name.substr(0, slash);
        if (!equalNoCase(instance, "MSSQLSERVER")) {
            return std::nullopt;
        }
        if (const auto* s = find(name)) {
            return endpointOf(*s);
        }
    }
    // The local machine under any of its names.
    if (isLocalAlias(name) || (!computerName_.empty() && equalNoCase(name, computerName_))) {
        if (const auto* s = find("(local)")) {
            return endpointOf(*s);
        }
        if (const auto* s = find(computerName_)) {
            return endpointOf(*s);
        }
    }
    return std::nullopt;
}

std::vector<std::string> ServerNameResolver::serverNames() const {
    std::vector<std::string> names;
    for (const auto& s : servers_) {
        names.push_back(s.name);
    }
    return names;
}

} // namespace kv::oledb
