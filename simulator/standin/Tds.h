#pragma once
// The TDS 7.1-7.4 wire format as the stand-in server speaks it: assembling client packets into
// messages, reading PRELOGIN, LOGIN7, SQL batch and RPC payloads, and writing the token stream
// of a response. Everything here works on byte buffers only (no sockets), so the fuzz target
// and the tests drive it directly. Every reader checks each length against the bytes it has;
// malformed input is an error result, never a read outside the buffer.

#include "simulator/standin/Results.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::standin::tds {

namespace packet {
inline constexpr std::uint8_t SqlBatch = 0x01;
inline constexpr std::uint8_t PreTds7Login = 0x02;
inline constexpr std::uint8_t Rpc = 0x03;
inline constexpr std::uint8_t TabularResult = 0x04;
inline constexpr std::uint8_t Attention = 0x06;
inline constexpr std::uint8_t Login7 = 0x10;
inline constexpr std::uint8_t PreLogin = 0x12;
} // namespace packet

inline constexpr std::uint8_t StatusEom = 0x01;
inline constexpr std::uint8_t StatusIgnore = 0x02;
inline constexpr std::size_t HeaderSize = 8;
inline constexpr std::size_t DefaultPacketSize = 4096;
inline constexpr std::size_t MinPacketSize = 512;
inline constexpr std::size_t MaxPacketSize = 32767;

// TDS versions as LOGIN7 carries them.
namespace version {
inline constexpr std::uint32_t V70 = 0x70000000;
inline constexpr std::uint32_t V71 = 0x71000001;
inline constexpr std::uint32_t V72 = 0x72090002;
inline constexpr std::uint32_t V73A = 0x730A0003;
inline constexpr std::uint32_t V73B = 0x730B0003;
inline constexpr std::uint32_t V74 = 0x74000004;
} // namespace version

// The version the server acknowledges: the client's, capped at the server's highest.
std::uint32_t negotiateVersion(std::uint32_t requested, std::uint32_t serverHighest);
// 7.2 and later use 4-byte user types and line numbers and 8-byte row counts.
inline bool isAtLeast72(std::uint32_t v) {
    return (v >> 24) >= 0x72;
}

struct Message {
    std::uint8_t type = 0;
    std::uint8_t status = 0; // status of the last packet
    std::vector<std::uint8_t> payload;
};

// Collects packets into messages. Packets longer than the limit, shorter than a header,
// messages beyond the size limit and a change of type inside one message are malformed.
class MessageReader {
public:
    explicit MessageReader(std::size_t maxPacket = DefaultPacketSize,
                           std::size_t maxMessage = 1u << 20)
        : maxPacket_(maxPacket), maxMessage_(maxMessage) {}

    void setMaxPacket(std::size_t size) { maxPacket_ = size; }
    void append(const std::uint8_t* data, std::size_t size) {
        buffer_.insert(buffer_.end(), data, data + size);
    }

    enum class State { NeedMore, Ready, Malformed };
    // Takes the next complete message out of the buffered bytes.
    State next(Message& out, std::string& error);
    bool hasBufferedBytes() const { return !buffer_.empty() || inMessage_; }

private:
    std::size_t maxPacket_;
    std::size_t maxMessage_;
    std::vector<std::uint8_t> buffer_;
    std::size_t offset_ = 0;
    bool inMessage_ = false;
    Message current_;
};

// PRELOGIN: validates the option table; only whether it is well formed matters to us.
bool parsePreLogin(const std::vector<std::uint8_t>& payload, std::string& error);
// The server's PRELOGIN answer: version, ENCRYPT_NOT_SUP, instance, empty thread id, no MARS.
std::vector<std::uint8_t> preLoginResponse(std::uint8_t major, std::uint8_t minor,
                                           std::uint16_t build);

struct Login7 {
    std::uint32_t tdsVersion = 0;
    std::uint32_t packetSize = 0;
    std::string hostName, userName, password, appName, serverName, libraryName, language, database;
};
std::optional<Login7> parseLogin7(const std::vector<std::uint8_t>& payload, std::string& error);
// LOGIN7's password obfuscation, both ways (tests build logins with encodePassword).
std::uint8_t decodePasswordByte(std::uint8_t b);
std::uint8_t encodePasswordByte(std::uint8_t b);

// The SQL text of a batch; from 7.2 on the ALL_HEADERS block is skipped by its total length.
std::optional<std::string> parseSqlBatch(const std::vector<std::uint8_t>& payload,
                                         std::uint32_t tdsVersion, std::string& error);
// The statement text of an RPC to sp_executesql (procedure id 10 or by name); other RPCs give
// the procedure name in `procedure` and no text.
struct RpcParam;
struct RpcRequest {
    std::string procedure;
    std::optional<std::string> statement;
    std::vector<RpcParam> params; // those after the statement (the declaration list first)
};
std::optional<RpcRequest> parseRpc(const std::vector<std::uint8_t>& payload,
                                   std::uint32_t tdsVersion, std::string& error);

namespace token {
inline constexpr std::uint8_t ReturnStatus = 0x79;
inline constexpr std::uint8_t ReturnValue = 0xAC;
inline constexpr std::uint8_t ColMetadata = 0x81;
inline constexpr std::uint8_t Error = 0xAA;
inline constexpr std::uint8_t Info = 0xAB;
inline constexpr std::uint8_t LoginAck = 0xAD;
inline constexpr std::uint8_t Row = 0xD1;
inline constexpr std::uint8_t EnvChange = 0xE3;
inline constexpr std::uint8_t Done = 0xFD;
inline constexpr std::uint8_t DoneProc = 0xFE;
inline constexpr std::uint8_t DoneInProc = 0xFF;
} // namespace token

namespace done {
inline constexpr std::uint16_t Final = 0x0000;
inline constexpr std::uint16_t More = 0x0001;
inline constexpr std::uint16_t Error = 0x0002;
inline constexpr std::uint16_t Count = 0x0010;
inline constexpr std::uint16_t Attention = 0x0020;
inline constexpr std::uint16_t ServerError = 0x0100;
} // namespace done

// Writes tokens in the layout of the acknowledged TDS version.
class TokenWriter {
public:
    TokenWriter(std::uint32_t tdsVersion, std::vector<std::uint8_t> collation)
        : version_(tdsVersion), collation_(std::move(collation)) {}

    void envChange(std::uint8_t type, const std::string& newValue, const std::string& oldValue);
    void envCollation();
    void loginAck(std::uint32_t ackVersion, const std::string& program, std::uint8_t major,
                  std::uint8_t minor, std::uint16_t build);
    void message(const kv::standin::Message& message, const std::string& serverName);
    void colMetadata(const std::vector<Column>& columns);
    void row(const std::vector<Column>& columns, const Row& row);
    void returnStatus(std::int32_t value);
    // RETURNVALUE of an output parameter: its TYPE_INFO and the value bytes in that type.
    void returnValue(std::uint16_t ordinal, const std::string& name,
                     const std::vector<std::uint8_t>& typeInfo,
                     const std::vector<std::uint8_t>& value);
    void done(std::uint8_t tokenType, std::uint16_t status, std::uint16_t command,
              std::uint64_t count);

    std::vector<std::uint8_t>& bytes() { return out_; }
    void clear() { out_.clear(); }

private:
    void u8(std::uint8_t v) { out_.push_back(v); }
    void u16(std::uint16_t v);
    void u32(std::uint32_t v);
    void u64(std::uint64_t v);
    void bVarchar(const std::string& text);
    void usVarchar(const std::string& text);
    static std::uint8_t numericSize(int precision);
    bool isLong(const Column& c) const;
    void longTypeInfo(const Column& c);
    void longValue(const std::vector<std::uint8_t>& bytes);
    void longNull();

    std::uint32_t version_;
    std::vector<std::uint8_t> collation_;
    std::vector<std::uint8_t> out_;
};

// Cuts a response into packets of at most `packetSize` bytes, type 0x04, EOM on the last.
std::vector<std::uint8_t> packetize(const std::vector<std::uint8_t>& message,
                                    std::size_t packetSize, std::uint16_t spid,
                                    std::uint8_t type = packet::TabularResult);

} // namespace kv::standin::tds
