#include "dataaccess/MSServerAnswer.h"

#include <string_view>

namespace kv::dataaccess {

namespace {

constexpr std::size_t kHeaderSize = 3;
constexpr std::string_view kServerKey = "ServerName";
constexpr std::string_view kInstanceKey = "InstanceName";
constexpr const char* kInvalidValue = "invalid Value";

// The value after Key found at KeyAt: from the ";" that follows the key to the next ";".
// End receives the position of the closing ";".
std::string valueAfter(std::string_view Text, std::size_t KeyAt, std::size_t KeySize,
                       std::size_t& End) {
    const std::size_t open = Text.find(';', KeyAt + KeySize);
    if (open == std::string_view::npos)
        throw EServerAnswerError(kInvalidValue);
    const std::size_t close = Text.find(';', open + 1);
    if (close == std::string_view::npos)
        throw EServerAnswerError(kInvalidValue);
    End = close;
    return std::string(Text.substr(open + 1, close - open - 1));
}

} // namespace

std::vector<std::string> ParseServerAnswer(const std::uint8_t* Data, std::size_t Size) {
    std::vector<std::string> servers;
    if (Data == nullptr || Size <= kHeaderSize)
        return servers;
    const std::string_view text(reinterpret_cast<const char*>(Data) + kHeaderSize,
                                Size - kHeaderSize);
    std::size_t at = text.find(kServerKey);
    while (at != std::string_view::npos) {
        std::size_t end = 0;
        const std::string server = valueAfter(text, at, kServerKey.size(), end);
        const std::size_t instanceAt = text.find(kInstanceKey, end + 1);
        if (instanceAt == std::string_view::npos) {
            servers.push_back(server);
            break;
        }
        const std::string instance = valueAfter(text, instanceAt, kInstanceKey.size(), end);
        servers.push_back(UpperCase(instance) != "MSSQLSERVER" ? server + "\\" + instance : server);
        at = text.find(kServerKey, end);
    }
    return servers;
}

} // namespace kv::dataaccess
