// Fuzz target for the resolution-protocol answer parser: any datagram either lists names or is
// refused with "invalid Value"; every name is a piece of the datagram (a server, or a server,
// "\" and an instance), so nothing can come from outside it.
#include "dataaccess/MSServerAnswer.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto names = kv::dataaccess::ParseServerAnswer(data, size);
        for (const auto& name : names)
            if (name.size() > size)
                std::abort();
        // Each name costs at least "ServerName;" + ";" of the datagram.
        if (!names.empty() && names.size() * 12 > size)
            std::abort();
    } catch (const kv::dataaccess::EServerAnswerError&) {
    }
    return 0;
}
