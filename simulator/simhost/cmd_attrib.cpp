// simhost attrib DIR 'C:\path' [+r|-r]

#include "Command.h"

#include <filesystem>
#include <ostream>
#include <system_error>

namespace kv::simhost {
namespace {

namespace fs = std::filesystem;

// The read-only attribute is the file's owner write permission (platform/posix/README.md).
int runAttrib(const std::vector<std::string>& args, Io io) {
    if (args.size() != 2 && args.size() != 3)
        return usageError(io, "usage: simhost attrib DIR 'C:\\path' [+r|-r]");
    if (args.size() == 3 && args[2] != "+r" && args[2] != "-r")
        return usageError(io, "the attribute is +r (read-only) or -r (writable)");
    auto host = openHost(args[0], io);
    if (!host)
        return ExitUsage;
    auto real = host->resolve(args[1]);
    if (!real)
        return usageError(io, real.error().message);
    std::error_code ec;
    const auto status = fs::status(*real, ec);
    if (ec || !fs::is_regular_file(status)) {
        io.err << args[1] << " is not a file\n";
        return ExitFailed;
    }
    if (args.size() == 2) {
        const bool writable = (status.permissions() & fs::perms::owner_write) != fs::perms::none;
        io.out << (writable ? "-" : "R") << "  " << args[1] << "\n";
        return ExitOk;
    }
    const auto write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if (args[2] == "+r")
        fs::permissions(*real, write, fs::perm_options::remove, ec);
    else
        fs::permissions(*real, fs::perms::owner_write, fs::perm_options::add, ec);
    if (ec) {
        io.err << "cannot change the attributes of " << args[1] << ": " << ec.message() << "\n";
        return ExitFailed;
    }
    return ExitOk;
}

const SimhostCommand attrib{
    "attrib", "attrib DIR 'C:\\path' [+r|-r]   show or set the read-only attribute", runAttrib};

} // namespace
} // namespace kv::simhost
