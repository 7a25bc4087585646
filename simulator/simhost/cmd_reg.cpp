// simhost reg DIR get|set|list|delete ROOT KEY [NAME [VALUE]] [--dword | --expand]
//
// ROOT is HKCU or HKLM (or the long names). get prints a string as it is and a DWORD in decimal.

#include "Command.h"
#include "platform/posix/SimHost.h"

#include <ostream>

namespace kv::simhost {
namespace {

using namespace platform;

std::optional<RegistryRoot> parseRoot(const std::string& text) {
    if (text == "HKCU" || text == "HKEY_CURRENT_USER")
        return RegistryRoot::CurrentUser;
    if (text == "HKLM" || text == "HKEY_LOCAL_MACHINE")
        return RegistryRoot::LocalMachine;
    return std::nullopt;
}

int runReg(const std::vector<std::string>& all, Io io) {
    const char* usage = "usage: simhost reg DIR get ROOT KEY NAME | set ROOT KEY NAME VALUE "
                        "[--dword|--expand] | list ROOT KEY | delete ROOT KEY NAME";
    std::vector<std::string> args;
    bool dword = false, expand = false;
    for (const auto& arg : all) {
        if (arg == "--dword")
            dword = true;
        else if (arg == "--expand")
            expand = true;
        else
            args.push_back(arg);
    }
    if (args.size() < 4)
        return usageError(io, usage);
    const auto& action = args[1];
    const std::size_t wanted = action == "get" || action == "delete" ? 5
                               : action == "set"                     ? 6
                               : action == "list"                    ? 4
                                                                     : 0;
    if (wanted == 0 || args.size() != wanted || (dword && expand) ||
        ((dword || expand) && action != "set"))
        return usageError(io, usage);
    const auto root = parseRoot(args[2]);
    if (!root)
        return usageError(io, "unknown registry root \"" + args[2] + "\" (HKCU or HKLM)");
    auto host = openHost(args[0], io);
    if (!host)
        return ExitUsage;
    auto platform = sim::createSimulatedPlatform(*host);
    auto& registry = platform->registry();
    const auto& keyPath = args[3];

    if (action == "set" || action == "delete") {
        auto key = registry.createKey(*root, keyPath);
        if (!key)
            return failure(io, key.error().message);
        Result<void> done;
        if (action == "delete") {
            done = (*key)->deleteValue(args[4]);
        } else if (dword) {
            std::uint32_t number = 0;
            try {
                std::size_t used = 0;
                const auto parsed = std::stoull(args[5], &used, 0);
                if (used != args[5].size() || parsed > 0xFFFFFFFFull)
                    throw std::out_of_range("dword");
                number = static_cast<std::uint32_t>(parsed);
            } catch (const std::exception&) {
                return usageError(io, "--dword needs a 32-bit number, not \"" + args[5] + "\"");
            }
            done = (*key)->writeInteger(args[4], number);
        } else {
            done = (*key)->writeString(args[4], args[5], expand);
        }
        return done ? ExitOk : failure(io, done.error().message);
    }

    auto key = registry.openKey(*root, keyPath);
    if (!key)
        return failure(io, key.error().message);
    if (action == "list") {
        auto names = (*key)->valueNames();
        if (!names)
            return failure(io, names.error().message);
        for (const auto& name : *names)
            io.out << name << "\n";
        return ExitOk;
    }
    auto type = (*key)->valueType(args[4]);
    if (!type)
        return failure(io, type.error().message);
    if (*type == RegType::DWord) {
        auto number = (*key)->readInteger(args[4]);
        if (!number)
            return failure(io, number.error().message);
        io.out << *number << "\n";
        return ExitOk;
    }
    auto text = (*key)->readString(args[4]);
    if (!text)
        return failure(io, text.error().message);
    io.out << *text << "\n";
    return ExitOk;
}

const SimhostCommand reg{"reg",
                         "reg DIR get|set|list|delete HKCU|HKLM KEY [NAME [VALUE]] "
                         "[--dword|--expand]   read and write registry values",
                         runReg};

} // namespace
} // namespace kv::simhost
