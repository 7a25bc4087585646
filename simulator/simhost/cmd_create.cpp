// simhost create DIR [--computer-name NAME] [registered options]

#include "Command.h"

#include <algorithm>
#include <ostream>

namespace kv::simhost {
namespace {

int runCreate(const std::vector<std::string>& args, Io io) {
    std::optional<std::string> dir;
    platform::sim::CreateOptions options;
    std::vector<std::pair<const CreateOption*, std::string>> extras;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto& arg = args[i];
        if (arg == "--computer-name") {
            if (i + 1 >= args.size())
                return usageError(io, "--computer-name needs a name");
            options.computerName = args[++i];
            continue;
        }
        if (arg.starts_with("--")) {
            const auto& table = createOptions();
            const auto option = std::find_if(table.begin(), table.end(),
                                             [&](const CreateOption& o) { return o.flag == arg; });
            if (option == table.end())
                return usageError(io, "create: unknown option " + arg);
            std::string value;
            if (option->takesValue) {
                if (i + 1 >= args.size())
                    return usageError(io, arg + " needs a value");
                value = args[++i];
            }
            extras.emplace_back(&*option, value);
            continue;
        }
        if (dir)
            return usageError(io,
                              "create takes one folder, got \"" + *dir + "\" and \"" + arg + "\"");
        dir = arg;
    }
    if (!dir)
        return usageError(io, "usage: simhost create DIR [--computer-name NAME]");
    auto host = platform::sim::SimHost::create(*dir, options);
    if (!host)
        return usageError(io, host.error().message);
    for (const auto& [option, value] : extras)
        if (const int status = option->apply(*host, value, io); status != ExitOk)
            return status;
    io.out << host->root().string() << "\n";
    return ExitOk;
}

const SimhostCommand create{
    "create",
    "create DIR [--computer-name NAME]   make a new host folder (computer name KELVORA-PC)",
    runCreate};

} // namespace
} // namespace kv::simhost
