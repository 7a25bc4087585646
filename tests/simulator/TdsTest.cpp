// The wire format byte for byte: messages split over packets, LOGIN7 with its password
// obfuscation and out-of-range offsets, the version-dependent token layouts; and the batch
// parser on the console's statement texts.

#include "simulator/standin/Tds.h"

#include "platform/Unicode.h"
#include "simulator/standin/Sql.h"
#include "simulator/standin/Text.h"

#include <gmock/gmock.h>

using namespace kv::standin;
using namespace kv::standin::tds;

namespace {

std::vector<std::uint8_t> header(std::uint8_t type, std::uint8_t status, std::size_t length) {
    return {type,
            status,
            static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length & 0xFF),
            0,
            0,
            1,
            0};
}

// A message split over packets arrives whole; bytes fed one at a time change nothing, and a
// second message in the same read is kept for the next call.
TEST(MessageReaderTest, AssemblesMessagesAcrossPacketsAndReads) {
    std::vector<std::uint8_t> stream;
    auto p1 = header(0x01, 0, 8 + 3);
    p1.insert(p1.end(), {'a', 'b', 'c'});
    auto p2 = header(0x01, StatusEom, 8 + 2);
    p2.insert(p2.end(), {'d', 'e'});
    auto p3 = header(0x06, StatusEom, 8);
    stream.insert(stream.end(), p1.begin(), p1.end());
    stream.insert(stream.end(), p2.begin(), p2.end());
    stream.insert(stream.end(), p3.begin(), p3.end());

    MessageReader reader(512);
    tds::Message m;
    std::string error;
    std::vector<tds::Message> got;
    for (auto b : stream) {
        reader.append(&b, 1);
        while (reader.next(m, error) == MessageReader::State::Ready)
            got.push_back(m);
    }
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].type, 0x01);
    EXPECT_EQ(std::string(got[0].payload.begin(), got[0].payload.end()), "abcde");
    EXPECT_EQ(got[1].type, 0x06);
    EXPECT_TRUE(got[1].payload.empty());
}

TEST(MessageReaderTest, RejectsMalformedPackets) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        const char* why;
    };
    auto twoTypes = header(0x01, 0, 8);
    auto second = header(0x03, StatusEom, 8);
    twoTypes.insert(twoTypes.end(), second.begin(), second.end());
    const Case cases[] = {{"short length", header(0x01, 1, 7), "shorter than its header"},
                          {"oversized", header(0x01, 1, 513), "exceeds the packet size 512"},
                          {"type change", twoTypes, "inside a message"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MessageReader reader(512);
        reader.append(c.bytes.data(), c.bytes.size());
        tds::Message m;
        std::string error;
        EXPECT_EQ(reader.next(m, error), MessageReader::State::Malformed);
        EXPECT_THAT(error, ::testing::HasSubstr(c.why));
    }
    MessageReader small(512, 20);
    auto big = header(0x01, 0, 8 + 16);
    big.resize(big.size() + 16);
    small.append(big.data(), big.size());
    small.append(big.data(), big.size());
    tds::Message m;
    std::string error;
    EXPECT_EQ(small.next(m, error), MessageReader::State::Malformed);
}

std::vector<std::uint8_t> buildLogin(const std::string& user, const std::string& password,
                                     std::uint32_t version, std::size_t fixed = 94) {
    std::vector<std::uint8_t> out(fixed, 0);
    out[4] = version & 0xFF;
    out[5] = (version >> 8) & 0xFF;
    out[6] = (version >> 16) & 0xFF;
    out[7] = version >> 24;
    out[8] = 0x00;
    out[9] = 0x10; // 4096
    auto field = [&](std::size_t at, const std::string& text, bool obfuscate) {
        const std::size_t offset = out.size();
        std::vector<std::uint8_t> bytes;
        appendUtf16le(bytes, kv::platform::utf8ToUtf16(text));
        for (auto& b : bytes)
            if (obfuscate)
                b = encodePasswordByte(b);
        out.insert(out.end(), bytes.begin(), bytes.end());
        out[at] = offset & 0xFF;
        out[at + 1] = static_cast<std::uint8_t>(offset >> 8);
        out[at + 2] = static_cast<std::uint8_t>(bytes.size() / 2);
    };
    field(40, user, false);
    field(44, password, true);
    field(68, "kelvora", false);
    const auto total = static_cast<std::uint32_t>(out.size());
    for (int i = 0; i < 4; ++i)
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(total >> (8 * i));
    return out;
}

TEST(Login7Test, DecodesNamesAndPasswordOfEveryVersion) {
    for (std::uint32_t v : {version::V71, version::V72, version::V74}) {
        std::string error;
        auto login =
            parseLogin7(buildLogin("sa", "Secr3t!ğ", v, v == version::V71 ? 86 : 94), error);
        ASSERT_TRUE(login) << error;
        EXPECT_EQ(login->tdsVersion, v);
        EXPECT_EQ(login->userName, "sa");
        EXPECT_EQ(login->password, "Secr3t!ğ");
        EXPECT_EQ(login->database, "kelvora");
        EXPECT_EQ(login->packetSize, 4096u);
    }
    EXPECT_EQ(negotiateVersion(version::V74, version::V71), version::V71);
    EXPECT_EQ(negotiateVersion(version::V74, version::V72), version::V72);
    EXPECT_EQ(negotiateVersion(version::V71, version::V72), version::V71);
}

TEST(Login7Test, RefusesFieldsOutsideTheMessage) {
    std::string error;
    EXPECT_FALSE(parseLogin7(std::vector<std::uint8_t>(40, 0), error));
    auto login = buildLogin("sa", "k", version::V74);
    login[42] = 200; // the user name now runs past the end
    EXPECT_FALSE(parseLogin7(login, error));
    EXPECT_THAT(error, ::testing::HasSubstr("user name"));
}

// The length at the start of a LOGIN7 must be the length of the message that carried it.
TEST(Login7Test, RefusesALengthOtherThanTheMessages) {
    const auto good = buildLogin("sa", "k", version::V71, 86);
    std::string error;
    ASSERT_TRUE(parseLogin7(good, error)) << error;
    for (std::uint32_t claimed :
         {0x7fffffffu, 0xffffffffu, 0u, 86u, static_cast<std::uint32_t>(good.size() - 1),
          static_cast<std::uint32_t>(good.size() + 1)}) {
        SCOPED_TRACE(claimed);
        auto login = good;
        for (int i = 0; i < 4; ++i)
            login[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(claimed >> (8 * i));
        error.clear();
        EXPECT_FALSE(parseLogin7(login, error));
        EXPECT_THAT(error, ::testing::HasSubstr("LOGIN7 claims " + std::to_string(claimed)));
    }
    // A message longer than the login it carries is refused as well.
    auto padded = good;
    padded.push_back(0);
    EXPECT_FALSE(parseLogin7(padded, error));
}

TEST(SqlBatchTest, SkipsAllHeadersFrom72On) {
    std::vector<std::uint8_t> payload = {22, 0, 0, 0, 18, 0, 0, 0, 2, 0, 0,
                                         0,  0, 0, 0, 0,  0, 0, 1, 0, 0, 0};
    appendUtf16le(payload, u"SELECT 1");
    std::string error;
    EXPECT_EQ(parseSqlBatch(payload, version::V72, error).value_or("?"), "SELECT 1");
    std::vector<std::uint8_t> plain;
    appendUtf16le(plain, u"SELECT 1");
    EXPECT_EQ(parseSqlBatch(plain, version::V71, error).value_or("?"), "SELECT 1");
    payload[0] = 200; // headers longer than the message
    EXPECT_FALSE(parseSqlBatch(payload, version::V72, error));
}

// DONE row counts, message line numbers and user types are shorter in 7.1; LOGINACK carries
// its version big-endian.
TEST(TokenWriterTest, LayoutFollowsTheAcknowledgedVersion) {
    const std::vector<std::uint8_t> collation = {0x09, 0x04, 0xD0, 0x00, 0x34};
    TokenWriter v71(version::V71, collation), v72(version::V72, collation);
    v71.done(token::Done, done::Count, 0xC1, 5);
    v72.done(token::Done, done::Count, 0xC1, 5);
    EXPECT_EQ(v71.bytes(), (std::vector<std::uint8_t>{0xFD, 0x10, 0, 0xC1, 0, 5, 0, 0, 0}));
    EXPECT_EQ(v72.bytes().size(), 13u);
    v71.clear();
    v71.loginAck(version::V71, "Microsoft SQL Server", 8, 0, 2039);
    const auto& ack = v71.bytes();
    EXPECT_EQ(ack[0], 0xAD);
    EXPECT_EQ(std::vector<std::uint8_t>(ack.begin() + 4, ack.begin() + 8),
              (std::vector<std::uint8_t>{0x71, 0x00, 0x00, 0x01}));
    EXPECT_EQ(std::vector<std::uint8_t>(ack.end() - 4, ack.end()),
              (std::vector<std::uint8_t>{8, 0, 0x07, 0xF7}));
    v71.clear();
    v71.message(kv::standin::Message{5701, 2, 10, "x", "", 1}, "S");
    EXPECT_EQ(v71.bytes()[0], 0xAB);
    EXPECT_EQ(v71.bytes()[8], 0); // class 10 goes out as 0
    EXPECT_EQ(v71.bytes().size(), 3u + 4 + 1 + 1 + 2 + 2 + 1 + 2 + 1 + 2);
}

TEST(TokenWriterTest, RowValuesAndNulls) {
    TokenWriter w(version::V72, {0x09, 0x04, 0xD0, 0x00, 0x34});
    std::vector<Column> columns = {{"s", ColumnType::NVarChar, 4, true},
                                   {"n", ColumnType::SmallInt, 0, true},
                                   {"d", ColumnType::DateTime, 0, true},
                                   {"b", ColumnType::VarBinary, 85, true}};
    w.row(columns, {std::string("abcdef"), Value{}, DateTime{45427, 14859150}, Bytes{1}});
    const std::vector<std::uint8_t> expected = {
        0xD1, 8,    0,    'a', 0, 'b',  0,    'c',  0, 'd', 0, // truncated to nvarchar(4)
        0,                                                     // smallint NULL
        8,    0x73, 0xB1, 0,   0, 0x8E, 0xBB, 0xE2, 0,         // datetime
        1,    0,    1};                                        // varbinary
    EXPECT_EQ(w.bytes(), expected);
}

TEST(PacketizeTest, CutsAtThePacketSizeWithEomOnTheLast) {
    std::vector<std::uint8_t> message(1000, 0x42);
    auto bytes = packetize(message, 512, 51);
    ASSERT_EQ(bytes.size(), 1000u + 2 * 8);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ((bytes[2] << 8) | bytes[3], 512);
    EXPECT_EQ(bytes[512 + 1], StatusEom);
    EXPECT_EQ((bytes[4] << 8) | bytes[5], 51);
}

// Every statement text the console sends parses; errors name the token SQL Server names.
TEST(SqlParserTest, ConsoleStatementsParse) {
    const char* texts[] = {
        "use master SELECT * FROM sysdatabases s\r\nWHERE s.[name]='kelvora'",
        "use master\r\ncreate database kelvora ON (FILENAME = "
        "'c:\\kelvora\\data\\kelvora_data.mdf')"
        "  LOG ON (FILENAME = 'c:\\kelvora\\data\\kelvora_log.ldf') FOR ATTACH",
        "exec sp_addlogin 'kelvora','1234','kelvora','turkish'",
        "EXEC sp_detach_db 'kelvora','true'",
        "dbcc checkdb('kelvora') with no_infomsgs",
        "CREATE DATABASE kelvora1 ON ( NAME = 'kelvora1_data',FILENAME ='c:\\kelvora1_Data.MDF') "
        "LOG ON (NAME = 'kelvora1_log',FILENAME='c:\\kelvora1_log.ldf')",
        "Sp_configure 'allow updates', 1",
        "Reconfigure with override",
        "Update sysdatabases set status = 32768 where name = 'KELVORA1'",
        "DBCC REBUILD_LOG(KELVORA1, 'c:\\kelvora\\data\\kelvora_log.ldf')",
        "ALTER DATABASE kelvora1 SET SINGLE_USER WITH ROLLBACK IMMEDIATE",
        "DBCC CHECKDB ('kelvora1',REPAIR_ALLOW_DATA_LOSS)",
        "SET QUOTED_IDENTIFIER OFF",
        "SET LOCK_TIMEOUT 2000",
        "/* Check connection */",
        "-- comment\nSELECT name FROM master.dbo.sysdatabases; PRINT N'ş'",
        "RAISERROR('text', 16, 1) WAITFOR DELAY '00:00:01'"};
    for (const char* text : texts) {
        auto r = sql::parse(text);
        EXPECT_FALSE(r.error) << text << " near " << r.error->near;
    }
    auto two = sql::parse(texts[0]);
    ASSERT_EQ(two.statements.size(), 2u);
    EXPECT_EQ(two.statements[1].line, 1);
    auto multi = sql::parse(texts[1]);
    ASSERT_EQ(multi.statements.size(), 2u);
    EXPECT_EQ(multi.statements[1].line, 2);
}

TEST(SqlParserTest, SyntaxErrorsNameTheOffendingToken) {
    struct Case {
        const char* text;
        const char* near;
        int line;
    };
    const Case cases[] = {{"SELECT * FROM", "FROM", 1},
                          {"use master\nfoo bar baz", "foo", 2},
                          {"SELECT 'unterminated", "unterminated", 1},
                          {"CREATE TABLE x (a int)", "TABLE", 1},
                          {"select 1 select", "select", 1}};
    for (const auto& c : cases) {
        auto r = sql::parse(c.text);
        ASSERT_TRUE(r.error) << c.text;
        EXPECT_EQ(r.error->near, c.near) << c.text;
        EXPECT_EQ(r.error->line, c.line) << c.text;
        EXPECT_TRUE(r.statements.empty());
    }
}

TEST(CollationTest, TurkishKeepsDottedAndDotlessIApart) {
    EXPECT_TRUE(sameName("Sp_configure", "sp_configure", Collation::Turkish));
    EXPECT_FALSE(sameName("SP_CONFIGURE", "sp_configure", Collation::Turkish));
    EXPECT_TRUE(sameName("SP_CONFIGURE", "sp_configure", Collation::Latin1General));
    EXPECT_TRUE(sameName("KELVORA1", "kelvora1", Collation::Turkish));
}

} // namespace
