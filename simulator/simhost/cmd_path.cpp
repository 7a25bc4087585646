// simhost path DIR 'C:\Some\Path'

#include "Command.h"

#include <ostream>

namespace kv::simhost {
namespace {

int runPath(const std::vector<std::string>& args, Io io) {
    if (args.size() != 2)
        return usageError(io, "usage: simhost path DIR 'C:\\Some\\Path'");
    auto host = openHost(args[0], io);
    if (!host)
        return ExitUsage;
    auto real = host->resolve(args[1]);
    if (!real)
        return usageError(io, real.error().message);
    io.out << real->string() << "\n";
    return ExitOk;
}

const SimhostCommand path{
    "path", "path DIR 'C:\\Some\\Path'   print where a Windows path lives on disk", runPath};

} // namespace
} // namespace kv::simhost
