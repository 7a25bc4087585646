#include "simulator/standin/Tds.h"

#include "platform/Unicode.h"
#include "simulator/standin/RpcParams.h"
#include "simulator/standin/Text.h"

#include <algorithm>
#include <cstring>

namespace kv::standin::tds {

namespace {

std::uint16_t be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

std::uint32_t negotiateVersion(std::uint32_t requested, std::uint32_t serverHighest) {
    // Versions order by their first byte (7.3A and 7.3B differ only below it).
    if ((requested >> 24) >= (serverHighest >> 24))
        return serverHighest;
    switch (requested >> 24) {
    case 0x72:
        return version::V72;
    case 0x73:
        return requested == version::V73A ? version::V73A : version::V73B;
    default:
        return version::V71;
    }
}

MessageReader::State MessageReader::next(Message& out, std::string& error) {
    for (;;) {
        const std::size_t available = buffer_.size() - offset_;
        if (available < HeaderSize) {
            // Compact the consumed prefix so the buffer does not grow without bound.
            if (offset_ > 0) {
                buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(offset_));
                offset_ = 0;
            }
            return State::NeedMore;
        }
        const std::uint8_t* h = buffer_.data() + offset_;
        const std::size_t length = be16(h + 2);
        if (length < HeaderSize) {
            error = "packet length " + std::to_string(length) + " is shorter than its header";
            return State::Malformed;
        }
        if (length > maxPacket_) {
            error = "packet length " + std::to_string(length) + " exceeds the packet size " +
                    std::to_string(maxPacket_);
            return State::Malformed;
        }
        if (available < length)
            return State::NeedMore;
        const std::uint8_t type = h[0];
        const std::uint8_t status = h[1];
        if (inMessage_ && type != current_.type) {
            error = "packet of type " + std::to_string(type) + " inside a message of type " +
                    std::to_string(current_.type);
            return State::Malformed;
        }
        if (!inMessage_) {
            current_ = Message{};
            current_.type = type;
            inMessage_ = true;
        }
        if (current_.payload.size() + (length - HeaderSize) > maxMessage_) {
            error = "message larger than " + std::to_string(maxMessage_) + " bytes";
            return State::Malformed;
        }
        current_.payload.insert(current_.payload.end(), h + HeaderSize, h + length);
        current_.status = status;
        offset_ += length;
        if (status & StatusEom) {
            inMessage_ = false;
            out = std::move(current_);
            current_ = Message{};
            if (offset_ == buffer_.size()) {
                buffer_.clear();
                offset_ = 0;
            }
            return State::Ready;
        }
    }
}

bool parsePreLogin(const std::vector<std::uint8_t>& payload, std::string& error) {
    std::size_t pos = 0;
    for (;;) {
        if (pos >= payload.size()) {
            error = "PRELOGIN option table has no terminator";
            return false;
        }
        if (payload[pos] == 0xFF)
            return true;
        if (pos + 5 > payload.size()) {
            error = "PRELOGIN option entry at " + std::to_string(pos) + " is cut short";
            return false;
        }
        const std::size_t offset = be16(&payload[pos + 1]);
        const std::size_t length = be16(&payload[pos + 3]);
        if (offset + length > payload.size()) {
            error = "PRELOGIN option " + std::to_string(payload[pos]) + " points past the end";
            return false;
        }
        pos += 5;
    }
}

std::vector<std::uint8_t> preLoginResponse(std::uint8_t major, std::uint8_t minor,
                                           std::uint16_t build) {
    return {0x00,
            0x00,
            0x1A,
            0x00,
            0x06,
            0x01,
            0x00,
            0x20,
            0x00,
            0x01,
            0x02,
            0x00,
            0x21,
            0x00,
            0x01,
            0x03,
            0x00,
            0x22,
            0x00,
            0x00,
            0x04,
            0x00,
            0x22,
            0x00,
            0x01,
            0xFF,
            major,
            minor,
            static_cast<std::uint8_t>(build >> 8),
            static_cast<std::uint8_t>(build & 0xFF),
            0x00,
            0x00,
            0x02,
            0x00,
            0x00};
}

std::uint8_t decodePasswordByte(std::uint8_t b) {
    const std::uint8_t x = b ^ 0xA5;
    return static_cast<std::uint8_t>((x << 4) | (x >> 4));
}

std::uint8_t encodePasswordByte(std::uint8_t b) {
    const std::uint8_t swapped = static_cast<std::uint8_t>((b << 4) | (b >> 4));
    return swapped ^ 0xA5;
}

std::optional<Login7> parseLogin7(const std::vector<std::uint8_t>& payload, std::string& error) {
    constexpr std::size_t FixedPart71 = 86;
    if (payload.size() < FixedPart71) {
        error = "LOGIN7 of " + std::to_string(payload.size()) + " bytes is shorter than " +
                std::to_string(FixedPart71);
        return std::nullopt;
    }
    const std::uint8_t* p = payload.data();
    // The structure's own length must be the message's: a login that claims more or less than
    // arrived is structurally invalid, and the server closes the connection on it.
    if (const std::uint32_t length = le32(p); length != payload.size()) {
        error = "LOGIN7 claims " + std::to_string(length) + " bytes but its message has " +
                std::to_string(payload.size());
        return std::nullopt;
    }
    Login7 login;
    login.tdsVersion = le32(p + 4);
    login.packetSize = le32(p + 8);
    const char* names[] = {"host name",        "user name",   "password",
                           "application name", "server name", nullptr,
                           "library name",     "language",    "database"};
    std::string* targets[] = {&login.hostName,    &login.userName,   &login.password,
                              &login.appName,     &login.serverName, nullptr,
                              &login.libraryName, &login.language,   &login.database};
    for (int i = 0; i < 9; ++i) {
        if (!targets[i])
            continue; // the extension block is not read
        const std::size_t field = 36 + 4 * static_cast<std::size_t>(i);
        const std::size_t ib = le16(p + field);
        const std::size_t cch = le16(p + field + 2);
        if (cch == 0)
            continue;
        if (ib + 2 * cch > payload.size()) {
            error = std::string("LOGIN7 ") + names[i] + " (offset " + std::to_string(ib) + ", " +
                    std::to_string(cch) + " characters) lies past the end of " +
                    std::to_string(payload.size()) + " bytes";
            return std::nullopt;
        }
        if (i == 2) {
            std::vector<std::uint8_t> plain(p + ib, p + ib + 2 * cch);
            for (auto& b : plain)
                b = decodePasswordByte(b);
            login.password = utf16leToUtf8(plain.data(), plain.size());
        } else {
            *targets[i] = utf16leToUtf8(p + ib, 2 * cch);
        }
    }
    return login;
}

std::optional<std::string> parseSqlBatch(const std::vector<std::uint8_t>& payload,
                                         std::uint32_t tdsVersion, std::string& error) {
    std::size_t start = 0;
    if (isAtLeast72(tdsVersion)) {
        if (payload.size() < 4) {
            error = "SQL batch too short for its headers";
            return std::nullopt;
        }
        const std::size_t total = le32(payload.data());
        if (total < 4 || total > payload.size()) {
            error = "SQL batch headers claim " + std::to_string(total) + " of " +
                    std::to_string(payload.size()) + " bytes";
            return std::nullopt;
        }
        start = total;
    }
    return utf16leToUtf8(payload.data() + start, payload.size() - start);
}

namespace {

bool isTextParam(std::uint8_t type) {
    return type == 0xE7 || type == 0xEF || type == 0x63;
}

} // namespace

std::optional<RpcRequest> parseRpc(const std::vector<std::uint8_t>& payload,
                                   std::uint32_t tdsVersion, std::string& error) {
    std::size_t pos = 0;
    const std::size_t size = payload.size();
    const std::uint8_t* p = payload.data();
    if (isAtLeast72(tdsVersion)) {
        if (size < 4 || le32(p) < 4 || le32(p) > size) {
            error = "RPC headers do not fit";
            return std::nullopt;
        }
        pos = le32(p);
    }
    auto need = [&](std::size_t n) {
        if (pos + n > size) {
            error = "RPC request cut short at byte " + std::to_string(pos);
            return false;
        }
        return true;
    };
    RpcRequest request;
    if (!need(2))
        return std::nullopt;
    const std::uint16_t nameLength = le16(p + pos);
    pos += 2;
    if (nameLength == 0xFFFF) {
        if (!need(2))
            return std::nullopt;
        const std::uint16_t id = le16(p + pos);
        pos += 2;
        request.procedure = id == 10 ? "sp_executesql" : "#" + std::to_string(id);
    } else {
        if (!need(2u * nameLength))
            return std::nullopt;
        request.procedure = utf16leToUtf8(p + pos, 2u * nameLength);
        pos += 2u * nameLength;
    }
    if (!need(2))
        return std::nullopt;
    pos += 2; // option flags
    if (!keywordEquals(request.procedure, "sp_executesql"))
        return request;
    // The statement is the first parameter (nvarchar, nvarchar(max) or ntext); the rest are
    // the declaration list and the values.
    auto params = readRpcParams(payload, pos, tdsVersion, error);
    if (!params)
        return std::nullopt;
    if (params->empty() || !isTextParam(params->front().type)) {
        error = params->empty()
                    ? "sp_executesql without a statement"
                    : "sp_executesql statement of type " + std::to_string(params->front().type);
        return std::nullopt;
    }
    if (auto* text = std::get_if<std::string>(&params->front().value))
        request.statement = *text;
    else
        request.statement = std::string();
    params->erase(params->begin());
    request.params = std::move(*params);
    return request;
}

void TokenWriter::u16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
}
void TokenWriter::u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void TokenWriter::u64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void TokenWriter::bVarchar(const std::string& text) {
    std::u16string u = platform::utf8ToUtf16(text);
    if (u.size() > 255)
        u.resize(255);
    u8(static_cast<std::uint8_t>(u.size()));
    appendUtf16le(out_, u);
}
void TokenWriter::usVarchar(const std::string& text) {
    std::u16string u = platform::utf8ToUtf16(text);
    if (u.size() > 4000) // SQL Server cuts message texts at 4000 characters too
        u.resize(4000);
    u16(static_cast<std::uint16_t>(u.size()));
    appendUtf16le(out_, u);
}

namespace {
// Patches the 2-byte length that follows a token byte once its body is written.
struct LengthPatch {
    std::vector<std::uint8_t>& out;
    std::size_t at;
    explicit LengthPatch(std::vector<std::uint8_t>& o) : out(o), at(o.size()) {
        out.push_back(0);
        out.push_back(0);
    }
    ~LengthPatch() {
        const std::size_t len = out.size() - at - 2;
        out[at] = static_cast<std::uint8_t>(len & 0xFF);
        out[at + 1] = static_cast<std::uint8_t>(len >> 8);
    }
};
} // namespace

void TokenWriter::envChange(std::uint8_t type, const std::string& newValue,
                            const std::string& oldValue) {
    u8(token::EnvChange);
    LengthPatch patch(out_);
    u8(type);
    bVarchar(newValue);
    bVarchar(oldValue);
}

void TokenWriter::envCollation() {
    u8(token::EnvChange);
    LengthPatch patch(out_);
    u8(7);
    u8(static_cast<std::uint8_t>(collation_.size()));
    out_.insert(out_.end(), collation_.begin(), collation_.end());
    u8(0);
}

void TokenWriter::loginAck(std::uint32_t ackVersion, const std::string& program, std::uint8_t major,
                           std::uint8_t minor, std::uint16_t build) {
    u8(token::LoginAck);
    LengthPatch patch(out_);
    u8(1);
    // Big-endian here, unlike everywhere else.
    u8(static_cast<std::uint8_t>(ackVersion >> 24));
    u8(static_cast<std::uint8_t>(ackVersion >> 16));
    u8(static_cast<std::uint8_t>(ackVersion >> 8));
    u8(static_cast<std::uint8_t>(ackVersion));
    bVarchar(program);
    u8(major);
    u8(minor);
    u8(static_cast<std::uint8_t>(build >> 8));
    u8(static_cast<std::uint8_t>(build & 0xFF));
}

void TokenWriter::message(const kv::standin::Message& m, const std::string& serverName) {
    u8(m.isError() ? token::Error : token::Info);
    LengthPatch patch(out_);
    u32(static_cast<std::uint32_t>(m.number));
    u8(static_cast<std::uint8_t>(m.state));
    // Severity 10 is reported to clients as 0.
    u8(static_cast<std::uint8_t>(m.severity == 10 ? 0 : m.severity));
    usVarchar(m.text);
    bVarchar(serverName);
    bVarchar(m.procedure);
    if (isAtLeast72(version_))
        u32(static_cast<std::uint32_t>(m.line));
    else
        u16(static_cast<std::uint16_t>(m.line));
}

void TokenWriter::colMetadata(const std::vector<Column>& columns) {
    u8(token::ColMetadata);
    u16(static_cast<std::uint16_t>(columns.size()));
    for (const Column& c : columns) {
        if (isAtLeast72(version_))
            u32(0);
        else
            u16(0);
        u16(c.nullable ? 0x0001 : 0x0000);
        switch (c.type) {
        case ColumnType::NVarChar:
            if (isLong(c)) {
                longTypeInfo(c);
                break;
            }
            u8(0xE7);
            u16(static_cast<std::uint16_t>(c.maxLength * 2));
            out_.insert(out_.end(), collation_.begin(), collation_.end());
            break;
        case ColumnType::VarBinary:
            if (isLong(c)) {
                longTypeInfo(c);
                break;
            }
            u8(0xA5);
            u16(static_cast<std::uint16_t>(c.maxLength));
            break;
        case ColumnType::DateTime:
            if (c.nullable) {
                u8(0x6F);
                u8(8);
            } else {
                u8(0x3D);
            }
            break;
        case ColumnType::Float:
            if (c.nullable) {
                u8(0x6D); // FLTN
                u8(8);
            } else {
                u8(0x3E); // FLT8
            }
            break;
        case ColumnType::Numeric:
            u8(0x6C); // NUMERICN
            u8(numericSize(c.precision));
            u8(static_cast<std::uint8_t>(c.precision));
            u8(static_cast<std::uint8_t>(c.scale));
            break;
        case ColumnType::Int:
        case ColumnType::SmallInt:
        case ColumnType::TinyInt:
        case ColumnType::BigInt: {
            static constexpr std::uint8_t fixed[] = {0x38, 0x34, 0x30, 0x7F};
            static constexpr std::uint8_t sizes[] = {4, 2, 1, 8};
            const int k = c.type == ColumnType::Int        ? 0
                          : c.type == ColumnType::SmallInt ? 1
                          : c.type == ColumnType::TinyInt  ? 2
                                                           : 3;
            if (c.nullable) {
                u8(0x26);
                u8(sizes[k]);
            } else {
                u8(fixed[k]);
            }
            break;
        }
        }
        bVarchar(c.name);
    }
}

void TokenWriter::row(const std::vector<Column>& columns, const Row& row) {
    u8(token::Row);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const Column& c = columns[i];
        const Value null{};
        const Value& v = i < row.size() ? row[i] : null;
        const bool isNull = std::holds_alternative<std::monostate>(v);
        switch (c.type) {
        case ColumnType::NVarChar: {
            if (isNull && isLong(c)) {
                longNull();
                break;
            }
            if (isNull) {
                u16(0xFFFF);
                break;
            }
            std::u16string u;
            if (auto* s = std::get_if<std::string>(&v))
                u = platform::utf8ToUtf16(*s);
            else if (auto* n = std::get_if<std::int64_t>(&v))
                u = platform::utf8ToUtf16(std::to_string(*n));
            if (u.size() > static_cast<std::size_t>(c.maxLength))
                u.resize(static_cast<std::size_t>(c.maxLength));
            std::vector<std::uint8_t> bytes;
            appendUtf16le(bytes, u);
            if (isLong(c)) {
                longValue(bytes);
                break;
            }
            u16(static_cast<std::uint16_t>(bytes.size()));
            out_.insert(out_.end(), bytes.begin(), bytes.end());
            break;
        }
        case ColumnType::VarBinary: {
            if (isNull && isLong(c)) {
                longNull();
                break;
            }
            if (isNull) {
                u16(0xFFFF);
                break;
            }
            Bytes b;
            if (auto* p = std::get_if<Bytes>(&v))
                b = *p;
            if (b.size() > static_cast<std::size_t>(c.maxLength))
                b.resize(static_cast<std::size_t>(c.maxLength));
            if (isLong(c)) {
                longValue(b);
                break;
            }
            u16(static_cast<std::uint16_t>(b.size()));
            out_.insert(out_.end(), b.begin(), b.end());
            break;
        }
        case ColumnType::DateTime: {
            DateTime d;
            if (auto* p = std::get_if<DateTime>(&v))
                d = *p;
            if (c.nullable) {
                if (isNull) {
                    u8(0);
                    break;
                }
                u8(8);
            }
            u32(static_cast<std::uint32_t>(d.days));
            u32(d.ticks);
            break;
        }
        case ColumnType::Float: {
            double d = 0;
            if (auto* p = std::get_if<double>(&v))
                d = *p;
            else if (auto* n = std::get_if<std::int64_t>(&v))
                d = static_cast<double>(*n);
            if (c.nullable) {
                if (isNull) {
                    u8(0);
                    break;
                }
                u8(8);
            }
            std::uint64_t raw = 0;
            std::memcpy(&raw, &d, 8);
            u64(raw);
            break;
        }
        case ColumnType::Numeric: {
            if (isNull) {
                u8(0);
                break;
            }
            Decimal n;
            if (auto* p = std::get_if<Decimal>(&v))
                n = *p;
            else if (auto* whole = std::get_if<std::int64_t>(&v))
                n = Decimal{std::to_string(*whole < 0 ? -*whole : *whole), *whole < 0};
            const std::uint8_t size = numericSize(c.precision);
            u8(size);
            u8(n.negative ? 0 : 1);
            // The digits as a little-endian integer of size - 1 bytes.
            std::vector<std::uint8_t> magnitude(size - 1u, 0);
            for (char digit : n.digits) {
                unsigned carry = static_cast<unsigned>(digit - '0');
                for (auto& byte : magnitude) {
                    const unsigned x = byte * 10u + carry;
                    byte = static_cast<std::uint8_t>(x & 0xFF);
                    carry = x >> 8;
                }
            }
            out_.insert(out_.end(), magnitude.begin(), magnitude.end());
            break;
        }
        default: {
            const int size = c.type == ColumnType::Int        ? 4
                             : c.type == ColumnType::SmallInt ? 2
                             : c.type == ColumnType::TinyInt  ? 1
                                                              : 8;
            std::int64_t n = 0;
            if (auto* p = std::get_if<std::int64_t>(&v))
                n = *p;
            if (c.nullable) {
                if (isNull) {
                    u8(0);
                    break;
                }
                u8(static_cast<std::uint8_t>(size));
            }
            for (int k = 0; k < size; ++k)
                u8(static_cast<std::uint8_t>(static_cast<std::uint64_t>(n) >> (8 * k)));
            break;
        }
        }
    }
}

// Bytes of a numeric value of `precision` digits: the sign and the magnitude.
std::uint8_t TokenWriter::numericSize(int precision) {
    return precision <= 9 ? 5 : precision <= 19 ? 9 : precision <= 28 ? 13 : 17;
}

// Values longer than nvarchar(4000) / varbinary(8000) travel as SQL Server sends them: from
// TDS 7.2 on as nvarchar(max) / varbinary(max) with partly length-prefixed (PLP) values, in TDS
// 7.1 as ntext / image with a text pointer before each value.
bool TokenWriter::isLong(const Column& c) const {
    return (c.type == ColumnType::NVarChar && c.maxLength > 4000) ||
           (c.type == ColumnType::VarBinary && c.maxLength > 8000);
}

void TokenWriter::longTypeInfo(const Column& c) {
    const bool text = c.type == ColumnType::NVarChar;
    if (isAtLeast72(version_)) {
        u8(text ? 0xE7 : 0xA5);
        u16(0xFFFF);
        if (text)
            out_.insert(out_.end(), collation_.begin(), collation_.end());
        return;
    }
    u8(text ? 0x63 : 0x22); // ntext, image
    u32(0x7FFFFFFF);
    if (text)
        out_.insert(out_.end(), collation_.begin(), collation_.end());
    u16(0); // the table name (US_VARCHAR in 7.1): none for a computed column
}

void TokenWriter::longValue(const std::vector<std::uint8_t>& bytes) {
    if (isAtLeast72(version_)) {
        u64(bytes.size());
        // Chunks of at most 8000 bytes, then the zero-length terminator.
        for (std::size_t at = 0; at < bytes.size(); at += 8000) {
            const std::size_t n = std::min<std::size_t>(8000, bytes.size() - at);
            u32(static_cast<std::uint32_t>(n));
            out_.insert(out_.end(), bytes.begin() + static_cast<long>(at),
                        bytes.begin() + static_cast<long>(at + n));
        }
        u32(0);
        return;
    }
    u8(16); // text pointer
    out_.insert(out_.end(), 16, 0xAB);
    out_.insert(out_.end(), 8, 0); // timestamp
    u32(static_cast<std::uint32_t>(bytes.size()));
    out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void TokenWriter::longNull() {
    if (isAtLeast72(version_))
        u64(0xFFFFFFFFFFFFFFFFull);
    else
        u8(0); // no text pointer
}

void TokenWriter::returnValue(std::uint16_t ordinal, const std::string& name,
                              const std::vector<std::uint8_t>& typeInfo,
                              const std::vector<std::uint8_t>& value) {
    u8(token::ReturnValue);
    u16(ordinal);
    bVarchar(name);
    u8(0x01); // an output parameter
    if (isAtLeast72(version_))
        u32(0);
    else
        u16(0);
    u16(0x0001); // nullable
    out_.insert(out_.end(), typeInfo.begin(), typeInfo.end());
    out_.insert(out_.end(), value.begin(), value.end());
}

void TokenWriter::returnStatus(std::int32_t value) {
    u8(token::ReturnStatus);
    u32(static_cast<std::uint32_t>(value));
}

void TokenWriter::done(std::uint8_t tokenType, std::uint16_t status, std::uint16_t command,
                       std::uint64_t count) {
    u8(tokenType);
    u16(status);
    u16(command);
    if (isAtLeast72(version_))
        u64(count);
    else
        u32(static_cast<std::uint32_t>(count));
}

std::vector<std::uint8_t> packetize(const std::vector<std::uint8_t>& message,
                                    std::size_t packetSize, std::uint16_t spid, std::uint8_t type) {
    const std::size_t body = packetSize - HeaderSize;
    std::vector<std::uint8_t> out;
    out.reserve(message.size() + (message.size() / body + 1) * HeaderSize);
    std::size_t pos = 0;
    std::uint8_t id = 1;
    do {
        const std::size_t n = std::min(body, message.size() - pos);
        const bool last = pos + n == message.size();
        const std::size_t len = n + HeaderSize;
        out.push_back(type);
        out.push_back(last ? StatusEom : 0);
        out.push_back(static_cast<std::uint8_t>(len >> 8));
        out.push_back(static_cast<std::uint8_t>(len & 0xFF));
        out.push_back(static_cast<std::uint8_t>(spid >> 8));
        out.push_back(static_cast<std::uint8_t>(spid & 0xFF));
        out.push_back(id++);
        out.push_back(0);
        out.insert(out.end(), message.begin() + static_cast<long>(pos),
                   message.begin() + static_cast<long>(pos + n));
        pos += n;
    } while (pos < message.size());
    return out;
}

} // namespace kv::standin::tds
