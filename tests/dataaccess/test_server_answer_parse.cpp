// The resolution-protocol answer parser at its edges, and the sorting of the server list.
#include "dataaccess/MSServerAnswer.h"
#include "dataaccess/MSServices.h"

#include <gtest/gtest.h>
#include <random>

using namespace kv::dataaccess;

namespace {

std::vector<std::string> parse(const std::string& Text) {
    std::string datagram = std::string("\x05\x00\x00", 3) + Text;
    return ParseServerAnswer(reinterpret_cast<const std::uint8_t*>(datagram.data()),
                             datagram.size());
}

TEST(ServerAnswer, TwoInstancesTheDefaultOneBare) {
    EXPECT_EQ(parse("ServerName;PC1;InstanceName;MSSQLSERVER;IsClustered;No;Version;8.00.194;"
                    "tcp;1433;;ServerName;PC1;InstanceName;SQLEXPRESS;IsClustered;No;Version;"
                    "9.00.1399;tcp;1066;;"),
              (std::vector<std::string>{"PC1", "PC1\\SQLEXPRESS"}));
    EXPECT_EQ(parse("ServerName;pc2;InstanceName;mssqlserver;;"), std::vector<std::string>{"pc2"});
}

// A ";" missing in any of the four places refuses the whole answer.
TEST(ServerAnswer, MissingSemicolonIsInvalidValue) {
    for (const char* text : {"ServerName;PC1", "ServerName", "ServerName;PC1;InstanceName",
                             "ServerName;PC1;InstanceName;X",
                             "ServerName;PC1;InstanceName;MSSQLSERVER;;ServerName;PC2"}) {
        SCOPED_TRACE(text);
        try {
            parse(text);
            ADD_FAILURE() << "no error";
        } catch (const EServerAnswerError& e) {
            EXPECT_STREQ(e.what(), "invalid Value");
        }
    }
}

// Odd but readable answers: no instance after a server lists the bare server; short datagrams
// and text without a server list nothing.
TEST(ServerAnswer, OddAnswersStayInsideTheDatagram) {
    EXPECT_EQ(parse("ServerName;PC1;Version;8;;"), std::vector<std::string>{"PC1"});
    EXPECT_EQ(parse("IsClustered;No;;"), std::vector<std::string>{});
    EXPECT_EQ(parse(""), std::vector<std::string>{});
    const std::uint8_t two[] = {0x05, 0x00};
    EXPECT_TRUE(ParseServerAnswer(two, sizeof two).empty());
    EXPECT_TRUE(ParseServerAnswer(nullptr, 0).empty());
    // The header's length is not trusted.
    const std::string big = std::string("\x05\xff\xff", 3) + "ServerName;A;InstanceName;B;";
    EXPECT_EQ(ParseServerAnswer(reinterpret_cast<const std::uint8_t*>(big.data()), big.size()),
              std::vector<std::string>{"A\\B"});
    // 8 KB of garbage with the keys sprinkled in: an answer or "invalid Value", nothing else.
    std::mt19937 random(1434);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::uint8_t> garbage(8192);
        for (auto& b : garbage)
            b = static_cast<std::uint8_t>(random() % 4 == 0 ? ';' : random());
        const std::string key = round % 2 ? "ServerName" : "InstanceName";
        std::copy(key.begin(), key.end(), garbage.end() - static_cast<std::ptrdiff_t>(key.size()));
        try {
            (void)ParseServerAnswer(garbage.data(), garbage.size());
        } catch (const EServerAnswerError&) {
        }
    }
}

TEST(ServerList, SortIgnoresCaseAndDropsDuplicates) {
    TStringList list;
    for (const char* s : {"b", "PC1\\SQLEXPRESS", "A", "a", "B", "pc1\\sqlexpress", "c", "A"})
        list.Add(s);
    TMSServerEnumerator::SortAndRemoveDuplicates(list);
    EXPECT_EQ(list.Text(), "A\r\nb\r\nc\r\nPC1\\SQLEXPRESS\r\n");
}

} // namespace
