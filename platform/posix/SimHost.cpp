#include "platform/posix/SimHost.h"

#include "platform/Diagnostics.h"
#include "platform/posix/HostFiles.h"
#include "platform/posix/HostPath.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kv::platform::sim {

namespace fs = std::filesystem;
using namespace detail;

namespace {

const char* rootFileName(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

Result<std::uint16_t> freeLoopbackUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errnoError(errno, "cannot create a UDP socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int err = errno;
        ::close(fd);
        return errnoError(err, "cannot bind a loopback UDP port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool validComputerName(std::string_view name) {
    if (name.empty() || name.size() > 63)
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

std::string upperAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

Error refuse(ErrorCode code, std::string_view path, const std::string& why) {
    return Error{code, "the simulated host refuses the path \"" + std::string(path) + "\": " + why};
}

bool isDeviceName(std::string_view component) {
    auto base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    const auto upper = upperAscii(base);
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL")
        return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           upper[3] >= '1' && upper[3] <= '9';
}

// Finds `name` in `folder` without regard to case: the exact name first, then the first match
// in sorted order (on a case-sensitive disk several may exist; the choice must not vary).
std::optional<std::string> findEntry(const fs::path& folder, const std::string& name) {
    struct stat st {};
    if (::lstat((folder / name).c_str(), &st) == 0)
        return name;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return std::nullopt;
    const auto wanted = foldName(name);
    std::vector<std::string> matches;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view candidate = entry->d_name;
        if (candidate == "." || candidate == "..")
            continue;
        if (foldName(candidate) == wanted)
            matches.emplace_back(candidate);
    }
    ::closedir(dir);
    if (matches.empty())
        return std::nullopt;
    return *std::min_element(matches.begin(), matches.end());
}

} // namespace

Result<SimHost> SimHost::open(const fs::path& folder) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return Error{win::PathNotFound, "the simulated host folder " + folder.string() +
                                            " does not exist or is not a folder"};
    SimHost host(fs::absolute(folder, ec));
    if (ec)
        host.root_ = folder;
    auto loaded = host.reload();
    if (!loaded)
        return loaded.error();
    return host;
}

Result<SimHost> SimHost::create(const fs::path& folder, const CreateOptions& options) {
    if (!validComputerName(options.computerName))
        return Error{win::InvalidName, "invalid computer name \"" + options.computerName +
                                           "\" (letters, digits, '-' and '_' only)"};
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return Error{fromErrno(ec.value()),
                     "cannot create " + folder.string() + ": " + ec.message()};
    if (fs::exists(folder / "host.conf", ec))
        return Error{win::AlreadyExists, folder.string() + " already holds a simulated host"};
    auto port = freeLoopbackUdpPort();
    if (!port)
        return port.error();
    for (const char* sub : {"drive_c", "registry", "services", "run"}) {
        fs::create_directories(folder / sub, ec);
        if (ec)
            return Error{fromErrno(ec.value()),
                         "cannot create " + (folder / sub).string() + ": " + ec.message()};
    }
    for (auto root : {RegistryRoot::CurrentUser, RegistryRoot::LocalMachine}) {
        const auto file = folder / "registry" / (std::string(rootFileName(root)) + ".reg");
        auto written = writeFileAtomically(file, std::string("; Kelvora simulated registry: ") +
                                                     rootFileName(root) + "\n");
        if (!written)
            return written.error();
    }
    const std::string conf = "# Simulated Windows host (see platform/posix/README.md)\n"
                             "computer_name = " +
                             upperAscii(options.computerName) +
                             "\n"
                             "code_page = " +
                             std::to_string(options.codePage) +
                             "\n"
                             "discovery_address = 127.0.0.1\n"
                             "discovery_port = " +
                             std::to_string(*port) + "\n";
    auto written = writeFileAtomically(folder / "host.conf", conf);
    if (!written)
        return written.error();
    return open(folder);
}

SimHost SimHost::fromEnvironment() {
    const char* value = std::getenv(HostVariable);
    if (!value || !*value)
        throw PlatformError(std::string("the environment variable ") + HostVariable +
                            " is not set; it must name the simulated Windows host folder "
                            "(make one with: simhost create DIR)");
    auto host = open(value);
    if (!host)
        throw PlatformError(
            std::string("the environment variable ") + HostVariable + " names the folder " + value +
            ", which is not a usable simulated Windows host: " + host.error().message);
    return std::move(host).value();
}

Result<void> SimHost::reload() {
    auto text = readWholeFile(hostConf());
    if (!text)
        return Error{text.code(), root_.string() +
                                      " is not a simulated host (no readable host.conf): " +
                                      text.error().message};
    settings_.clear();
    for (auto& entry : parseKeyValues(*text, hostConf()))
        settings_.emplace(entry.key, entry.value); // the first line of a key counts
    return success();
}

Result<void> SimHost::setSetting(std::string_view key, std::string_view value) {
    const auto wanted = lowerAscii(trim(key));
    if (wanted.empty() || wanted.find_first_of("=\n#;") != std::string::npos ||
        value.find('\n') != std::string_view::npos)
        return Error{win::InvalidParameter,
                     "invalid host.conf setting \"" + std::string(key) + "\""};
    auto text = readWholeFile(hostConf());
    if (!text)
        return text.error();
    std::string out;
    bool replaced = false;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const auto line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        const auto eq = line.find('=');
        if (!replaced && eq != std::string_view::npos &&
            lowerAscii(trim(line.substr(0, eq))) == wanted && !trim(line).starts_with("#") &&
            !trim(line).starts_with(";")) {
            out += wanted + " = " + std::string(trim(value)) + "\n";
            replaced = true;
        } else {
            out += std::string(line) + "\n";
        }
    }
    if (!replaced)
        out += wanted + " = " + std::string(trim(value)) + "\n";
    auto written = writeFileAtomically(hostConf(), out);
    if (!written)
        return written;
    return reload();
}

std::optional<std::string> SimHost::setting(std::string_view key) const {
    const auto it = settings_.find(lowerAscii(key));
    if (it == settings_.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::uint64_t> SimHost::diskFree() const {
    const auto value = setting("disk_free");
    if (!value)
        return std::nullopt;
    const auto bytes = parseNumber(*value);
    if (!bytes)
        return std::nullopt;
    return *bytes;
}

std::string SimHost::computerName() const {
    const auto name = setting("computer_name");
    return upperAscii(name && !name->empty() ? *name : "KELVORA-PC");
}

std::uint32_t SimHost::codePage() const {
    const auto value = setting("code_page");
    if (!value)
        return 1254;
    if (const auto number = parseNumber(*value))
        return *number;
    reportDiagnostic(hostConf().string() + ": code_page \"" + *value +
                     "\" is not a number; using 1254");
    return 1254;
}

DiscoveryTarget SimHost::discoveryTarget() const {
    DiscoveryTarget target{"127.0.0.1", 1434, false};
    if (const auto address = setting("discovery_address")) {
        in_addr parsed{};
        if (::inet_pton(AF_INET, address->c_str(), &parsed) == 1 &&
            (ntohl(parsed.s_addr) >> 24) == 127)
            target.address = *address;
        else
            reportDiagnostic(hostConf().string() + ": discovery_address \"" + *address +
                             "\" is not a loopback address; using 127.0.0.1");
    }
    if (const auto port = setting("discovery_port")) {
        const auto number = parseNumber(*port);
        if (number && *number > 0 && *number < 65536)
            target.port = static_cast<std::uint16_t>(*number);
        else
            reportDiagnostic(hostConf().string() + ": discovery_port \"" + *port +
                             "\" is not a port number; using 1434");
    }
    return target;
}

fs::path SimHost::registryFile(RegistryRoot root) const {
    return root_ / "registry" / (std::string(rootFileName(root)) + ".reg");
}

std::optional<fs::path> SimHost::serviceDefinition(std::string_view name) const {
    if (name.empty() || name.find_first_of("/\\") != std::string_view::npos ||
        name.find('\0') != std::string_view::npos || name == "." || name == "..")
        return std::nullopt;
    const auto found = findEntry(servicesFolder(), std::string(name) + ".service");
    if (!found)
        return std::nullopt;
    const auto file = servicesFolder() / *found;
    std::error_code ec;
    if (!fs::is_regular_file(file, ec))
        return std::nullopt;
    return file;
}

fs::path SimHost::statusFile(std::string_view service) const {
    return runFolder() / (std::string(service) + ".status");
}

fs::path SimHost::pidFile(std::string_view service) const {
    return runFolder() / (std::string(service) + ".pid");
}

fs::path SimHost::logFile(std::string_view service) const {
    return runFolder() / (std::string(service) + ".log");
}

Result<fs::path> SimHost::resolve(std::string_view path) const {
    if (path.empty())
        return refuse(win::BadPathname, path, "the path is empty");
    if (path.find('\0') != std::string_view::npos)
        return refuse(win::InvalidName, path, "the path holds a NUL character");
    const auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]))
        return refuse(win::BadPathname, path, "UNC and device paths are not supported");
    const bool hasDrive =
        path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (!hasDrive)
        return refuse(win::BadPathname, path, "not an absolute path with a drive letter");
    if (path[0] != 'C' && path[0] != 'c')
        return refuse(win::PathNotFound, path,
                      std::string("drive ") + path[0] + ": does not exist on this host");
    auto rest = path.substr(2);
    if (!rest.empty() && !isSeparator(rest.front()))
        return refuse(win::BadPathname, path, "a drive-relative path (no \\ after C:)");

    fs::path current = driveC();
    bool missing = false;
    while (!rest.empty()) {
        const auto sep = std::find_if(rest.begin(), rest.end(), isSeparator);
        std::string component(rest.begin(), sep);
        rest.remove_prefix(static_cast<std::size_t>(sep - rest.begin()));
        if (!rest.empty())
            rest.remove_prefix(1);
        if (component.empty() || component == ".")
            continue;
        if (component == "..")
            return refuse(win::BadPathname, path, "\"..\" is not allowed");
        while (!component.empty() && (component.back() == '.' || component.back() == ' '))
            component.pop_back();
        if (component.empty())
            return refuse(win::InvalidName, path, "a name of dots or blanks only");
        for (char c : component)
            if (static_cast<unsigned char>(c) < 0x20 ||
                std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
                return refuse(win::InvalidName, path,
                              "the name \"" + component + "\" holds a character Windows forbids");
        if (isDeviceName(component))
            return refuse(win::InvalidName, path,
                          "\"" + component + "\" is a device name, not a file");
        if (!missing) {
            if (const auto found = findEntry(current, component)) {
                current /= *found;
                struct stat st {};
                if (::lstat(current.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
                    return refuse(win::AccessDenied, path,
                                  "\"" + *found + "\" is a symbolic link inside the drive");
                continue;
            }
            missing = true;
        }
        current /= component;
    }
    return current;
}

} // namespace kv::platform::sim
