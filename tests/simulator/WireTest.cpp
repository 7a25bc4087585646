// The stand-in over a loopback socket, driven by hand-built packets as clients other than
// FreeTDS send them: a LOGIN7 without PRELOGIN, sp_executesql whose statement arrives as
// NTEXT, NVARCHAR or NCHAR, and parameters passed by name and by position, typed, NULL and
// OUTPUT. The answers are read token by token.

#include "StandinTestHost.h"
#include "platform/Unicode.h"
#include "simulator/standin/Server.h"
#include "simulator/standin/Text.h"

#include <arpa/inet.h>
#include <fstream>
#include <gmock/gmock.h>
#include <iterator>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace kv::standin;
using namespace kv::standin::testing;

namespace {

constexpr std::uint32_t Tds71 = 0x71000001;
constexpr std::uint32_t Tds72 = 0x72090002;
const std::vector<std::uint8_t> Latin1 = {0x09, 0x04, 0xD0, 0x00, 0x34};
const std::vector<std::uint8_t> Turkish = {0x1F, 0x04, 0xD0, 0x00, 0x00};

// Little-endian byte builder.
struct Bytes8 {
    std::vector<std::uint8_t> b;
    void u8(std::uint8_t v) { b.push_back(v); }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void ucs2(const std::string& text) { appendUtf16le(b, kv::platform::utf8ToUtf16(text)); }
    void raw(const std::vector<std::uint8_t>& v) { b.insert(b.end(), v.begin(), v.end()); }
};

std::size_t units(const std::string& text) {
    return kv::platform::utf8ToUtf16(text).size();
}

// A LOGIN7 as a TDS 7.1 client writes it (86-byte fixed part), or 7.2+ (94 bytes).
std::vector<std::uint8_t> login7(std::uint32_t version, const std::string& user,
                                 const std::string& password) {
    const std::size_t fixed = version >= Tds72 ? 94 : 86;
    const std::vector<std::string> fields = {"rawclient", user,  password, "wire-test", "127.0.0.1",
                                             "",          "raw", "",       "master"};
    Bytes8 data;
    Bytes8 head;
    head.u32(0); // length, patched below
    head.u32(version);
    head.u32(4096);
    head.u32(7);
    head.u32(1234);
    head.u32(0);
    head.u8(0xE0);
    head.u8(0x03);
    head.u8(0);
    head.u8(0);
    head.u32(0);
    head.u32(0x0409);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        head.u16(static_cast<std::uint16_t>(fixed + data.b.size()));
        head.u16(static_cast<std::uint16_t>(units(fields[i])));
        if (i == 2) {
            std::vector<std::uint8_t> plain;
            appendUtf16le(plain, kv::platform::utf8ToUtf16(fields[i]));
            for (auto c : plain) {
                const std::uint8_t swapped = static_cast<std::uint8_t>((c << 4) | (c >> 4));
                data.u8(swapped ^ 0xA5);
            }
        } else {
            data.ucs2(fields[i]);
        }
    }
    head.raw({0, 0, 0, 0, 0, 0}); // client id
    for (int i = 0; i < 2; ++i) { // SSPI, attach file
        head.u16(static_cast<std::uint16_t>(fixed + data.b.size()));
        head.u16(0);
    }
    if (fixed == 94) {
        head.u16(static_cast<std::uint16_t>(fixed + data.b.size())); // change password
        head.u16(0);
        head.u32(0);
    }
    EXPECT_EQ(head.b.size(), fixed);
    head.raw(data.b);
    const auto total = static_cast<std::uint32_t>(head.b.size());
    for (int i = 0; i < 4; ++i)
        head.b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(total >> (8 * i));
    return head.b;
}

const std::vector<std::uint8_t> PreLogin = {0x00, 0x00, 0x0B, 0x00, 0x06, 0x01, 0x00, 0x11, 0x00,
                                            0x01, 0xFF, 0x08, 0x00, 0x01, 0x55, 0x00, 0x00, 0x02};

// An sp_executesql call: the request (with ALL_HEADERS from 7.2 on) and its parameters.
class Rpc {
public:
    explicit Rpc(std::uint32_t version) {
        if (version >= Tds72) {
            p_.u32(22);
            p_.u32(18);
            p_.u16(2);
            p_.raw(std::vector<std::uint8_t>(8, 0));
            p_.u32(1);
        }
        p_.u16(0xFFFF);
        p_.u16(10); // sp_executesql
        p_.u16(0);
    }
    Rpc& nvarchar(const std::string& name, const std::optional<std::string>& text,
                  bool output = false, std::uint8_t type = 0xE7, std::uint16_t maxBytes = 8000) {
        head(name, output, type);
        p_.u16(maxBytes);
        p_.raw(Latin1);
        if (!text) {
            p_.u16(0xFFFF);
            return *this;
        }
        p_.u16(static_cast<std::uint16_t>(2 * units(*text)));
        p_.ucs2(*text);
        return *this;
    }
    Rpc& ntext(const std::string& name, const std::optional<std::string>& text,
               bool output = false) {
        head(name, output, 0x63);
        p_.u32(0x7FFFFFFF);
        p_.raw(Latin1);
        if (!text) {
            p_.u32(0xFFFFFFFF);
            return *this;
        }
        p_.u32(static_cast<std::uint32_t>(2 * units(*text)));
        p_.ucs2(*text);
        return *this;
    }
    // `text` in the code page of `collation`.
    Rpc& varchar(const std::string& name, const std::string& text, bool output = false,
                 const std::vector<std::uint8_t>& collation = Latin1) {
        head(name, output, 0xA7);
        p_.u16(8000);
        p_.raw(collation);
        p_.u16(static_cast<std::uint16_t>(text.size()));
        p_.raw(std::vector<std::uint8_t>(text.begin(), text.end()));
        return *this;
    }
    Rpc& intn(const std::string& name, std::optional<std::int32_t> v, bool output = false) {
        head(name, output, 0x26);
        p_.u8(4);
        if (!v) {
            p_.u8(0);
            return *this;
        }
        p_.u8(4);
        p_.u32(static_cast<std::uint32_t>(*v));
        return *this;
    }
    const std::vector<std::uint8_t>& bytes() const { return p_.b; }

private:
    void head(const std::string& name, bool output, std::uint8_t type) {
        p_.u8(static_cast<std::uint8_t>(units(name)));
        p_.ucs2(name);
        p_.u8(output ? 1 : 0);
        p_.u8(type);
    }
    Bytes8 p_;
};

// What a response says, read token by token in the layout of the given version.
struct Response {
    bool loginAck = false;
    std::uint32_t ackVersion = 0;
    std::vector<int> errors;
    std::vector<std::string> errorTexts;
    std::vector<std::vector<std::string>> rows;
    std::map<std::string, std::string> returnValues;
    std::map<std::string, std::uint8_t> returnTypes;
    std::vector<std::uint8_t> dones; // token types of DONE, DONEPROC, DONEINPROC
    bool malformed = false;
};

class Reader {
public:
    Reader(const std::vector<std::uint8_t>& b, std::uint32_t version)
        : b_(b), v72_(version >= Tds72) {}

    Response read() {
        Response r;
        while (pos_ < b_.size() && !r.malformed) {
            const std::uint8_t token = b_[pos_++];
            switch (token) {
            case 0xE3:
            case 0xAA:
            case 0xAB:
            case 0xAD: {
                const std::size_t length = u(2);
                const std::size_t start = pos_;
                if (token == 0xAA) {
                    r.errors.push_back(static_cast<int>(u(4)));
                    pos_ += 2; // state, class
                    const std::size_t n = u(2);
                    r.errorTexts.push_back(utf16leToUtf8(b_.data() + pos_, 2 * n));
                }
                if (token == 0xAD) {
                    r.loginAck = true;
                    pos_ += 1;
                    r.ackVersion = static_cast<std::uint32_t>(b_[pos_] << 24 | b_[pos_ + 1] << 16 |
                                                              b_[pos_ + 2] << 8 | b_[pos_ + 3]);
                }
                pos_ = start + length;
                break;
            }
            case 0x79:
                pos_ += 4;
                break;
            case 0x81: {
                columns_.clear();
                const std::size_t count = u(2);
                for (std::size_t i = 0; i < count && !r.malformed; ++i) {
                    pos_ += v72_ ? 6 : 4; // user type, flags
                    columns_.push_back(typeInfo(r));
                    pos_ += 2 * u(1); // name
                }
                break;
            }
            case 0xD1: {
                std::vector<std::string> row;
                for (const auto& type : columns_)
                    row.push_back(value(type, r));
                r.rows.push_back(row);
                break;
            }
            case 0xAC: {
                pos_ += 2; // ordinal
                const std::size_t n = u(1);
                const std::string name = utf16leToUtf8(b_.data() + pos_, 2 * n);
                pos_ += 2 * n + 1 + (v72_ ? 6 : 4);
                const auto type = typeInfo(r);
                r.returnTypes[name] = type.front();
                r.returnValues[name] = value(type, r);
                break;
            }
            case 0xFD:
            case 0xFE:
            case 0xFF:
                r.dones.push_back(token);
                pos_ += v72_ ? 12 : 8;
                break;
            default:
                ADD_FAILURE() << "unexpected token " << int(token) << " at " << pos_ - 1;
                r.malformed = true;
            }
            if (pos_ > b_.size()) {
                ADD_FAILURE() << "response cut short";
                r.malformed = true;
            }
        }
        return r;
    }

private:
    std::size_t u(int n) {
        std::size_t v = 0;
        for (int i = 0; i < n && pos_ + static_cast<std::size_t>(i) < b_.size(); ++i)
            v |= std::size_t{b_[pos_ + static_cast<std::size_t>(i)]} << (8 * i);
        pos_ += static_cast<std::size_t>(n);
        return v;
    }
    // The type byte and its length byte(s).
    std::vector<std::uint8_t> typeInfo(Response& r) {
        const std::uint8_t t = b_[pos_++];
        switch (t) {
        case 0x30:
        case 0x34:
        case 0x38:
        case 0x7F:
        case 0x3D:
            return {t};
        case 0x26:
        case 0x68:
        case 0x6F:
            return {t, static_cast<std::uint8_t>(u(1))};
        case 0xE7:
        case 0xA7:
        case 0xEF:
        case 0xAF: {
            const std::size_t max = u(2);
            pos_ += 5;
            return {t, static_cast<std::uint8_t>(max == 0xFFFF ? 0xFF : 0)};
        }
        case 0xA5:
            u(2);
            return {t, 0};
        default:
            ADD_FAILURE() << "unexpected type " << int(t);
            r.malformed = true;
            return {t};
        }
    }
    std::string value(const std::vector<std::uint8_t>& type, Response& r) {
        const std::uint8_t t = type.front();
        auto integer = [&](int n) {
            std::uint64_t v = u(n);
            if (n < 8 && (v >> (8 * n - 1)) & 1)
                v |= ~std::uint64_t{0} << (8 * n);
            return std::to_string(static_cast<std::int64_t>(v));
        };
        switch (t) {
        case 0x30:
            return integer(1);
        case 0x34:
            return integer(2);
        case 0x38:
            return integer(4);
        case 0x7F:
            return integer(8);
        case 0x26:
        case 0x68: {
            const int n = static_cast<int>(u(1));
            return n == 0 ? "NULL" : integer(n);
        }
        case 0xE7:
        case 0xEF:
        case 0xA7:
        case 0xAF: {
            if (type[1] == 0xFF) {
                ADD_FAILURE() << "PLP values are not read here";
                r.malformed = true;
                return {};
            }
            const std::size_t n = u(2);
            if (n == 0xFFFF)
                return "NULL";
            std::string s = t == 0xE7 || t == 0xEF
                                ? utf16leToUtf8(b_.data() + pos_, n)
                                : std::string(b_.begin() + static_cast<long>(pos_),
                                              b_.begin() + static_cast<long>(pos_ + n));
            pos_ += n;
            return s;
        }
        default:
            ADD_FAILURE() << "no value reader for type " << int(t);
            r.malformed = true;
            return {};
        }
    }

    const std::vector<std::uint8_t>& b_;
    bool v72_;
    std::size_t pos_ = 0;
    std::vector<std::vector<std::uint8_t>> columns_;
};

class WireTest : public ::testing::Test {
protected:
    void startServer(Profile profile) {
        Server::Options options;
        options.profile = profile;
        options.discovery = false;
        server_ = std::make_unique<Server>(host_.host(), options);
        std::string error;
        ASSERT_TRUE(server_->start(error)) << error;
    }
    ~WireTest() override {
        if (fd_ >= 0)
            ::close(fd_);
    }

    void connect() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(server_->port());
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        timeval tv{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    void send(std::uint8_t type, const std::vector<std::uint8_t>& payload) {
        std::vector<std::uint8_t> out;
        const std::size_t body = 4096 - 8;
        std::size_t at = 0;
        do {
            const std::size_t n = std::min(body, payload.size() - at);
            const std::size_t len = n + 8;
            const bool last = at + n == payload.size();
            out.insert(out.end(), {type, static_cast<std::uint8_t>(last ? 1 : 0),
                                   static_cast<std::uint8_t>(len >> 8),
                                   static_cast<std::uint8_t>(len & 0xFF), 0, 0, 1, 0});
            out.insert(out.end(), payload.begin() + static_cast<long>(at),
                       payload.begin() + static_cast<long>(at + n));
            at += n;
        } while (at < payload.size());
        ASSERT_EQ(::send(fd_, out.data(), out.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(out.size()));
    }
    // The payload of the next whole message; nullopt when the server closed the connection.
    std::optional<std::vector<std::uint8_t>> receive() {
        std::vector<std::uint8_t> payload;
        for (;;) {
            std::uint8_t h[8];
            if (!readAll(h, 8))
                return std::nullopt;
            EXPECT_EQ(h[0], 0x04);
            const std::size_t len = (std::size_t{h[2]} << 8) | h[3];
            if (len < 8)
                return std::nullopt;
            std::vector<std::uint8_t> body(len - 8);
            if (!readAll(body.data(), body.size()))
                return std::nullopt;
            payload.insert(payload.end(), body.begin(), body.end());
            if (h[1] & 1)
                return payload;
        }
    }
    Response call(std::uint8_t type, const std::vector<std::uint8_t>& payload) {
        send(type, payload);
        auto answer = receive();
        if (!answer) {
            ADD_FAILURE() << "the server closed the connection";
            return {};
        }
        return Reader(*answer, version_).read();
    }
    Response batch(const std::string& sql) {
        Bytes8 p;
        if (version_ >= Tds72)
            p.raw({22, 0, 0, 0, 18, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
        p.ucs2(sql);
        return call(0x01, p.b);
    }
    // PRELOGIN (unless skipped) and LOGIN7 as sa.
    Response login(std::uint32_t version, bool preLogin = true) {
        version_ = version;
        connect();
        if (preLogin) {
            send(0x12, PreLogin);
            EXPECT_TRUE(receive().has_value());
        }
        return call(0x10, login7(version, "sa", DefaultSaPassword));
    }
    void attachProduct() {
        host_.writeDatabase(ProductData, ProductLog);
        auto r = batch("create database kelvora ON (FILENAME = "
                       "'C:\\Kelvora\\Data\\kelvora_Data.MDF') LOG ON (FILENAME = "
                       "'C:\\Kelvora\\Data\\kelvora_Log.LDF') FOR ATTACH");
        EXPECT_TRUE(r.errors.empty());
    }

    TestHost host_;
    std::unique_ptr<Server> server_;
    int fd_ = -1;
    std::uint32_t version_ = Tds71;

private:
    bool readAll(std::uint8_t* p, std::size_t n) {
        while (n > 0) {
            const ssize_t got = ::recv(fd_, p, n, 0);
            if (got <= 0)
                return false;
            p += got;
            n -= static_cast<std::size_t>(got);
        }
        return true;
    }
};

using Rows = std::vector<std::vector<std::string>>;

// A 7.1-era client opens with LOGIN7: both profiles log it in without encryption negotiation,
// and the session then works as any other. A pre-7.0 login is still refused.
TEST_F(WireTest, LoginWithoutPreLoginInBothProfiles) {
    for (Profile profile : {Profile::Sql2000, Profile::Sql2005}) {
        SCOPED_TRACE(profileInfo(profile).name);
        startServer(profile);
        const Response r = login(Tds71, false);
        EXPECT_TRUE(r.loginAck);
        EXPECT_EQ(r.ackVersion, Tds71);
        EXPECT_TRUE(r.errors.empty());
        EXPECT_EQ(batch("SELECT name FROM sysdatabases WHERE name = 'msdb'").rows,
                  (Rows{{"msdb"}}));
        // A wrong password is still refused with 18456 and the connection closed.
        version_ = Tds71;
        connect();
        send(0x10, login7(Tds71, "sa", "wrong"));
        auto answer = receive();
        ASSERT_TRUE(answer);
        EXPECT_EQ(Reader(*answer, Tds71).read().errors, std::vector<int>{18456});
        EXPECT_FALSE(receive());
        connect();
        send(0x02, std::vector<std::uint8_t>(64, 0));
        EXPECT_FALSE(receive());
    }
}

// A LOGIN7 whose length field disagrees with the message (0x7fffffff, one byte short or long)
// is refused before anything of it is used: no answer, the connection closed, the reason in the
// server's log; the server goes on serving well-formed logins.
TEST_F(WireTest, LoginWithAWrongLengthClosesTheConnection) {
    startServer(Profile::Sql2000);
    const auto good = login7(Tds71, "sa", DefaultSaPassword);
    for (std::uint32_t claimed : {0x7fffffffu, static_cast<std::uint32_t>(good.size() - 1),
                                  static_cast<std::uint32_t>(good.size() + 1)}) {
        SCOPED_TRACE(claimed);
        auto bad = good;
        for (int i = 0; i < 4; ++i)
            bad[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(claimed >> (8 * i));
        connect();
        send(0x12, PreLogin);
        ASSERT_TRUE(receive());
        send(0x10, bad);
        EXPECT_FALSE(receive());
    }
    const Response r = login(Tds71);
    EXPECT_TRUE(r.loginAck);
    EXPECT_TRUE(r.errors.empty());
    std::ifstream errorlog(
        host_.path("C:\\Program Files\\Microsoft SQL Server\\MSSQL\\LOG\\ERRORLOG"));
    const std::string log((std::istreambuf_iterator<char>(errorlog)), {});
    EXPECT_NE(log.find("LOGIN7 claims 2147483647 bytes"), std::string::npos) << log;
}

// A client asking the 2000 profile for 7.4 gets 7.1: the whole login answer, the tokens before
// LOGINACK included, is in the 7.1 layout, as SQL Server 2000 writes it (pytds and tedious at
// their default fail there, FreeTDS goes on). The 2005 profile acknowledges 7.2.
TEST_F(WireTest, LoginAnswerFollowsTheProfilesHighestVersion) {
    constexpr std::uint32_t Tds74 = 0x74000004;
    startServer(Profile::Sql2000);
    connect();
    send(0x12, PreLogin);
    ASSERT_TRUE(receive());
    send(0x10, login7(Tds74, "sa", DefaultSaPassword));
    auto answer = receive();
    ASSERT_TRUE(answer);
    Response r = Reader(*answer, Tds71).read();
    EXPECT_TRUE(r.loginAck);
    EXPECT_FALSE(r.malformed);
    EXPECT_EQ(r.ackVersion, Tds71);
    version_ = Tds71;
    EXPECT_EQ(batch("SELECT 3").rows, (Rows{{"3"}}));
    startServer(Profile::Sql2005);
    r = login(Tds74);
    EXPECT_EQ(r.ackVersion, Tds72);
}

// The statement of sp_executesql as 7.1 clients send it (NTEXT), as NVARCHAR and as NCHAR,
// with and without parameters after it.
TEST_F(WireTest, StatementAsNtextNvarcharOrNchar) {
    startServer(Profile::Sql2000);
    ASSERT_TRUE(login(Tds71).loginAck);
    const std::string select = "SELECT name FROM sysdatabases WHERE name = 'model'";
    EXPECT_EQ(call(0x03, Rpc(Tds71).ntext("", select).bytes()).rows, (Rows{{"model"}}));
    EXPECT_EQ(call(0x03, Rpc(Tds71).nvarchar("@stmt", select).bytes()).rows, (Rows{{"model"}}));
    EXPECT_EQ(call(0x03, Rpc(Tds71).nvarchar("", select, false, 0xEF).bytes()).rows,
              (Rows{{"model"}}));
    const Response r = call(0x03, Rpc(Tds71)
                                      .ntext("", "SELECT name FROM sysdatabases WHERE name = @P1")
                                      .ntext("", "@P1 nvarchar(4000)")
                                      .ntext("@P1", std::string("tempdb"))
                                      .bytes());
    EXPECT_EQ(r.rows, (Rows{{"tempdb"}}));
    EXPECT_EQ(r.dones.back(), 0xFE); // the call ends with DONEPROC
    // SQL Server 2000 compares no ntext with =.
    const Response refused = call(0x03, Rpc(Tds71)
                                            .ntext("", "SELECT name FROM sysdatabases WHERE "
                                                       "name = @P1")
                                            .ntext("", "@P1 ntext")
                                            .ntext("@P1", std::string("tempdb"))
                                            .bytes());
    EXPECT_TRUE(refused.rows.empty());
    EXPECT_EQ(refused.errors, std::vector<int>{402});
    EXPECT_EQ(refused.dones.back(), 0xFE);
    // The connection is still there.
    EXPECT_EQ(batch("SELECT 5").rows, (Rows{{"5"}}));
}

// SQL Server 2005 at TDS 7.2: the lookup of the product database, and each kind of
// value the engine knows (integer, Unicode and 8-bit text, NULL) bound by name, plus an output
// parameter assigned by a select, which comes back as a RETURNVALUE.
TEST_F(WireTest, TypedParametersAndOutputIn2005) {
    startServer(Profile::Sql2005);
    ASSERT_TRUE(login(Tds72).loginAck);
    attachProduct();
    const std::string byName = "SELECT name FROM sysdatabases WHERE name = @P1";
    EXPECT_EQ(call(0x03, Rpc(Tds72)
                             .nvarchar("@stmt", byName)
                             .nvarchar("@params", "@P1 nvarchar(7)")
                             .nvarchar("@P1", std::string("kelvora"))
                             .bytes())
                  .rows,
              (Rows{{"kelvora"}}));
    EXPECT_EQ(call(0x03, Rpc(Tds72)
                             .nvarchar("@stmt", byName)
                             .nvarchar("@params", "@P1 varchar(10)")
                             .varchar("@P1", "msdb")
                             .bytes())
                  .rows,
              (Rows{{"msdb"}}));
    EXPECT_EQ(call(0x03, Rpc(Tds72)
                             .nvarchar("@stmt", "SELECT name FROM sysdatabases WHERE dbid = @P1")
                             .nvarchar("@params", "@P1 int")
                             .intn("@P1", 2)
                             .bytes())
                  .rows,
              (Rows{{"tempdb"}}));
    EXPECT_EQ(call(0x03, Rpc(Tds72)
                             .nvarchar("@stmt", "SELECT @P1, @P2")
                             .nvarchar("@params", "@P1 int, @P2 nvarchar(5)")
                             .intn("@P1", std::nullopt)
                             .nvarchar("@P2", std::nullopt)
                             .bytes())
                  .rows,
              (Rows{{"NULL", "NULL"}}));
    const Response out =
        call(0x03, Rpc(Tds72)
                       .nvarchar("@stmt", "SELECT @P2 = name FROM sysdatabases WHERE dbid = @P1")
                       .nvarchar("@params", "@P1 int, @P2 nvarchar(128) OUTPUT")
                       .intn("@P1", 4)
                       .nvarchar("@P2", std::nullopt, true, 0xE7, 256)
                       .bytes());
    EXPECT_TRUE(out.rows.empty());
    EXPECT_EQ(out.returnValues, (std::map<std::string, std::string>{{"@P2", "msdb"}}));
    EXPECT_EQ(out.dones.back(), 0xFE);
}

// Values after the declaration list without names take the declared names in order, in both
// profiles; digits sent as text for an int parameter are the integer.
TEST_F(WireTest, PositionalParametersTakeTheDeclaredNames) {
    for (Profile profile : {Profile::Sql2000, Profile::Sql2005}) {
        SCOPED_TRACE(profileInfo(profile).name);
        startServer(profile);
        const std::uint32_t version = profile == Profile::Sql2000 ? Tds71 : Tds72;
        ASSERT_TRUE(login(version).loginAck);
        EXPECT_EQ(call(0x03, Rpc(version)
                                 .nvarchar("", "SELECT name FROM sysdatabases WHERE name = @P1")
                                 .nvarchar("", "@P1 nvarchar(128)")
                                 .nvarchar("", std::string("msdb"))
                                 .bytes())
                      .rows,
                  (Rows{{"msdb"}}));
        EXPECT_EQ(call(0x03, Rpc(version)
                                 .nvarchar("", "SELECT @b, @a")
                                 .nvarchar("", "@a nvarchar(10), @b int")
                                 .nvarchar("", std::string("x"))
                                 .nvarchar("", std::string("12"))
                                 .bytes())
                      .rows,
                  (Rows{{"12", "x"}}));
        // The declared length cuts a longer value.
        EXPECT_EQ(call(0x03, Rpc(version)
                                 .nvarchar("", "SELECT @s")
                                 .nvarchar("", "@s nvarchar(3)")
                                 .nvarchar("", std::string("abcdef"))
                                 .bytes())
                      .rows,
                  (Rows{{"abc"}}));
    }
}

// A declared parameter without a value stops the call with 8178, whose text differs by profile;
// the connection goes on.
TEST_F(WireTest, DeclaredParameterWithoutValueIs8178) {
    for (Profile profile : {Profile::Sql2000, Profile::Sql2005}) {
        SCOPED_TRACE(profileInfo(profile).name);
        startServer(profile);
        ASSERT_TRUE(login(Tds71).loginAck);
        const Response r = call(0x03, Rpc(Tds71)
                                          .nvarchar("", "SELECT @P1, @P2")
                                          .nvarchar("", "@P1 int, @P2 int")
                                          .intn("@P1", 1)
                                          .bytes());
        EXPECT_EQ(r.errors, std::vector<int>{8178});
        ASSERT_EQ(r.errorTexts.size(), 1u);
        EXPECT_EQ(r.errorTexts[0],
                  profile == Profile::Sql2000
                      ? "Prepared statement '(@P1 int, @P2 int)SELECT @P1, @P2' expects "
                        "parameter @P2, which was not supplied."
                      : "The parameterized query '(@P1 int, @P2 int)SELECT @P1, @P2' "
                        "expects the parameter '@P2', which was not supplied.");
        EXPECT_EQ(batch("SELECT 4").rows, (Rows{{"4"}}));
    }
}

// A 7.1 client passes string outputs as NTEXT, which cannot be an output parameter: the value
// comes back in the declared type, nvarchar(128), as does an INT output passed by position.
TEST_F(WireTest, NtextOutputComesBackInTheDeclaredType) {
    startServer(Profile::Sql2000);
    ASSERT_TRUE(login(Tds71).loginAck);
    const Response r =
        call(0x03, Rpc(Tds71)
                       .ntext("", "SELECT @P2 = name FROM sysdatabases WHERE dbid = @P1 "
                                  "SET @P3 = @P1")
                       .ntext("", "@P1 int, @P2 nvarchar(128) OUTPUT, @P3 int OUTPUT")
                       .intn("", 3)
                       .ntext("", std::string("before"), true)
                       .intn("", std::nullopt, true)
                       .bytes());
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(r.returnValues, (std::map<std::string, std::string>{{"@P2", "model"}, {"@P3", "3"}}));
    EXPECT_EQ(r.returnTypes.at("@P2"), 0xE7);
    EXPECT_EQ(r.returnTypes.at("@P3"), 0x26);
}

// 8-bit text travels in the code page of the collation it carries: 1252 for Latin1, 1254 for
// Turkish, both ways; a character the code page lacks goes back as '?'.
TEST_F(WireTest, EightBitTextFollowsTheCodePageOfItsCollation) {
    startServer(Profile::Sql2005);
    ASSERT_TRUE(login(Tds72).loginAck);
    EXPECT_EQ(call(0x03, Rpc(Tds72)
                             .nvarchar("", "SELECT @a, @b")
                             .nvarchar("", "@a varchar(10), @b varchar(10)")
                             .varchar("@a", "caf\xE9")
                             .varchar("@b", "\xFE\xFD\xDD", false, Turkish)
                             .bytes())
                  .rows,
              (Rows{{"caf\u00E9", "\u015F\u0131\u0130"}}));
    const Response r = call(0x03, Rpc(Tds72)
                                      .nvarchar("", "SET @out = @in")
                                      .nvarchar("", "@in nvarchar(10), @out varchar(10) OUTPUT")
                                      .nvarchar("@in", std::string("\u011F\u0436\u00E9"))
                                      .varchar("@out", "", true, Turkish)
                                      .bytes());
    EXPECT_EQ(r.returnValues.at("@out"), "\xF0?\xE9");
}

} // namespace
