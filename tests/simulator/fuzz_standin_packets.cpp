// Fuzz target: the stand-in's packet reader and the readers of every client message
// (PRELOGIN, LOGIN7, SQL batch, RPC, with sp_executesql's declaration list and binding) and of
// resolution-protocol requests, plus the batch parser on whatever text comes out. None may read
// outside its buffer or crash.

#include "simulator/standin/Discovery.h"
#include "simulator/standin/RpcDeclarations.h"
#include "simulator/standin/Sql.h"
#include "simulator/standin/Tds.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kv::standin;
    if (size == 0)
        return 0;
    const std::uint32_t versions[] = {tds::version::V71, tds::version::V72, tds::version::V74};
    const std::uint32_t version = versions[data[0] % 3];
    tds::MessageReader reader(data[0] & 1 ? 512 : tds::MaxPacketSize, 1 << 16);
    // Feed in uneven pieces, as reads from a socket would arrive.
    std::size_t pos = 1;
    std::size_t step = 1;
    while (pos < size) {
        const std::size_t n = std::min(step, size - pos);
        reader.append(data + pos, n);
        pos += n;
        step = step * 3 % 61 + 1;
        tds::Message m;
        std::string error;
        while (reader.next(m, error) == tds::MessageReader::State::Ready) {
            (void)tds::parsePreLogin(m.payload, error);
            (void)tds::parseLogin7(m.payload, error);
            // Past the length check as well, so that the fields behind it stay covered.
            if (m.payload.size() >= 4) {
                auto login = m.payload;
                const auto length = static_cast<std::uint32_t>(login.size());
                for (int i = 0; i < 4; ++i)
                    login[static_cast<std::size_t>(i)] =
                        static_cast<std::uint8_t>(length >> (8 * i));
                (void)tds::parseLogin7(login, error);
            }
            if (auto rpc = tds::parseRpc(m.payload, version, error); rpc && rpc->statement) {
                tds::applyRpcDeclarations(rpc->params, {0x1F, 0x04, 0xD0, 0x00, 0x00});
                (void)sql::parse(tds::bindRpcParams(*rpc->statement, rpc->params));
            }
            if (auto text = tds::parseSqlBatch(m.payload, version, error))
                (void)sql::parse(*text);
        }
    }
    InstanceInfo instance{"HOST", "MSSQLSERVER", "8.00.2039", 1433};
    (void)discoveryAnswer(data, size, instance);
    return 0;
}
