#pragma once
// The command table of simhost. Each command lives in its own source file and registers itself
// with a static SimhostCommand object, so new commands come as new files:
//
//     static const kv::simhost::SimhostCommand damage{
//         "damage", "damage DIR 'C:\\path' [--page N]   spoil a page of a data file", runDamage};
//
// `create` accepts options registered the same way (CreateOption), which run on the new host
// after the standard folder has been made.
//
// Exit status: 0 success, 1 the operation failed, 2 bad arguments or a missing host (with one
// line on standard error saying why).

#include "platform/posix/SimHost.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace kv::simhost {

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

struct Io {
    std::ostream& out;
    std::ostream& err;
};

// Runs a command; `args` are the words after the command name.
using CommandFunction = std::function<int(const std::vector<std::string>& args, Io io)>;

struct Command {
    std::string name;
    std::string usage; // one line: the synopsis, then three blanks and what it does
    CommandFunction run;
};

class SimhostCommand {
public:
    SimhostCommand(std::string name, std::string usage, CommandFunction run);
};

// An option of `create`: `--flag` or `--flag VALUE`. `apply` runs after the host was created.
struct CreateOption {
    std::string flag;
    bool takesValue = false;
    std::string usage;
    std::function<int(platform::sim::SimHost& host, const std::string& value, Io io)> apply;
};

class SimhostCreateOption {
public:
    explicit SimhostCreateOption(CreateOption option);
};

const std::vector<Command>& commands();
const std::vector<CreateOption>& createOptions();

// Runs simhost with its arguments (without the program name).
int runSimhost(const std::vector<std::string>& args, Io io);

// Helpers for commands.
int usageError(Io io, const std::string& reason); // "simhost: reason", returns ExitUsage
int failure(Io io, const std::string& reason);    // "simhost: reason", returns ExitFailed
// Opens the host folder DIR, or says why not (returns nullopt after writing the reason).
std::optional<platform::sim::SimHost> openHost(const std::string& dir, Io io);

} // namespace kv::simhost
