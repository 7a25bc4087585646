#include "Command.h"

#include <algorithm>
#include <ostream>

namespace kv::simhost {

namespace {

std::vector<Command>& commandTable() {
    static std::vector<Command> table;
    return table;
}

std::vector<CreateOption>& createOptionTable() {
    static std::vector<CreateOption> table;
    return table;
}

void printUsage(std::ostream& out) {
    out << "usage: simhost COMMAND DIR ...   (DIR is a simulated Windows host folder)\n";
    auto sorted = commands();
    std::sort(sorted.begin(), sorted.end(),
              [](const Command& a, const Command& b) { return a.name < b.name; });
    for (const auto& command : sorted)
        out << "  simhost " << command.usage << "\n";
    for (const auto& option : createOptions())
        out << "    create option " << option.usage << "\n";
}

} // namespace

SimhostCommand::SimhostCommand(std::string name, std::string usage, CommandFunction run) {
    commandTable().push_back(Command{std::move(name), std::move(usage), std::move(run)});
}

SimhostCreateOption::SimhostCreateOption(CreateOption option) {
    createOptionTable().push_back(std::move(option));
}

const std::vector<Command>& commands() {
    return commandTable();
}
const std::vector<CreateOption>& createOptions() {
    return createOptionTable();
}

int usageError(Io io, const std::string& reason) {
    io.err << "simhost: " << reason << "\n";
    return ExitUsage;
}

int failure(Io io, const std::string& reason) {
    io.err << "simhost: " << reason << "\n";
    return ExitFailed;
}

std::optional<platform::sim::SimHost> openHost(const std::string& dir, Io io) {
    auto host = platform::sim::SimHost::open(dir);
    if (!host) {
        usageError(io, host.error().message);
        return std::nullopt;
    }
    return std::move(host).value();
}

int runSimhost(const std::vector<std::string>& args, Io io) {
    if (args.empty())
        return usageError(io, "no command given (try: simhost help)");
    if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        printUsage(io.out);
        return ExitOk;
    }
    const auto& table = commands();
    const auto it = std::find_if(table.begin(), table.end(),
                                 [&](const Command& c) { return c.name == args[0]; });
    if (it == table.end())
        return usageError(io, "unknown command \"" + args[0] + "\" (try: simhost help)");
    return it->run(std::vector<std::string>(args.begin() + 1, args.end()), io);
}

} // namespace kv::simhost
