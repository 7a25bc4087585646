// The registry of the simulated host: values round trip through the text files, missing keys
// and wrong types give their error numbers, broken lines are reported and skipped.

#include "TestHost.h"

#include <gmock/gmock.h>

namespace kv::platform::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class RegistryTest : public ::testing::Test {
protected:
    TestHost host;
    Registry& registry = host.platform().registry();
};

TEST_F(RegistryTest, ValuesRoundTripThroughTheFile) {
    {
        auto key = registry.createKey(RegistryRoot::CurrentUser,
                                      "\\SOFTWARE\\Quorix\\Nuvo\\Connect\\kelvora-console");
        ASSERT_TRUE(key) << key.error().message;
        ASSERT_TRUE((*key)->writeString("Username", "sa"));
        ASSERT_TRUE((*key)->writeString("Server", "KELVORA-PC\\Şube \"1\""));
        ASSERT_TRUE((*key)->writeString("Path", "%SystemRoot%\\x", true));
        ASSERT_TRUE((*key)->writeInteger("Left", 0xFFFFFFF0u));
        ASSERT_TRUE((*key)->writeString("username", "admin")); // same value, other case
    }
    // A fresh platform object reads what the first one wrote.
    auto other = sim::createSimulatedPlatform(host.host());
    auto key = other->registry().openKey(RegistryRoot::CurrentUser,
                                         "software\\QUORIX\\nuvo\\connect\\KELVORA-CONSOLE");
    ASSERT_TRUE(key) << key.error().message;
    EXPECT_EQ((*key)->readString("USERNAME").valueOr(""), "admin");
    EXPECT_EQ((*key)->readString("Server").valueOr(""), "KELVORA-PC\\Şube \"1\"");
    EXPECT_EQ((*key)->readString("Path").valueOr(""), "%SystemRoot%\\x");
    EXPECT_EQ((*key)->valueType("Path").valueOr(0), RegType::ExpandString);
    EXPECT_EQ((*key)->readInteger("Left").valueOr(0), 0xFFFFFFF0u);
    EXPECT_THAT((*key)->valueNames().valueOr({}),
                ElementsAre("Username", "Server", "Path", "Left"));
    // Parents exist as keys of their own; the file is readable text.
    EXPECT_TRUE(other->registry().openKey(RegistryRoot::CurrentUser, "SOFTWARE\\Quorix"));
    const auto text = host.readReal(host.host().registryFile(RegistryRoot::CurrentUser));
    EXPECT_THAT(text, HasSubstr("[SOFTWARE\\Quorix\\Nuvo\\Connect\\kelvora-console]\n"
                                "\"Username\"=\"admin\"\n"));
    EXPECT_THAT(text, HasSubstr("\"Left\"=dword:fffffff0\n"));
    // The roots are separate files, and no temporary file is left in the folder.
    EXPECT_FALSE(other->registry().openKey(RegistryRoot::LocalMachine, "SOFTWARE\\Quorix"));
    for (const auto& entry :
         fs::directory_iterator(host.host().registryFile(RegistryRoot::CurrentUser).parent_path()))
        EXPECT_THAT(entry.path().filename().string(), ::testing::Not(HasSubstr("tmp")));
}

TEST_F(RegistryTest, MissingKeysAndValuesAreNotFound) {
    const auto before = host.readReal(host.host().registryFile(RegistryRoot::LocalMachine));
    auto key = registry.openKey(RegistryRoot::LocalMachine,
                                "SOFTWARE\\Microsoft\\MSSQLServer\\Client\\ConnectTo");
    EXPECT_EQ(key.code(), win::FileNotFound);
    EXPECT_EQ(host.readReal(host.host().registryFile(RegistryRoot::LocalMachine)), before);

    auto created = registry.createKey(RegistryRoot::LocalMachine, "SOFTWARE\\Empty");
    ASSERT_TRUE(created);
    EXPECT_EQ((*created)->readString("Missing").code(), win::FileNotFound);
    EXPECT_TRUE((*created)->valueNames().valueOr({"x"}).empty());
}

// A value of another type than the one read is UnsupportedType; a key opened for reading
// refuses changes.
TEST_F(RegistryTest, WrongTypesAndReadOnlyKeysAreRefused) {
    host.writeReal(host.host().registryFile(RegistryRoot::CurrentUser),
                   "[SOFTWARE\\Quorix\\DBAccess\\Debug]\n"
                   "\"Left\"=dword:00000064\n"
                   "\"Top\"=\"100\"\n"
                   "\"Blob\"=hex(3):01,02,ff\n"
                   "\"List\"=hex(7):61,00,00\n");
    auto key = registry.openKey(RegistryRoot::CurrentUser, "SOFTWARE\\Quorix\\DBAccess\\Debug");
    ASSERT_TRUE(key) << key.error().message;
    EXPECT_EQ((*key)->readInteger("Left").valueOr(0), 100u);
    EXPECT_EQ((*key)->readString("Left").code(), win::UnsupportedType);
    EXPECT_EQ((*key)->readInteger("Top").code(), win::UnsupportedType);
    EXPECT_EQ((*key)->readString("Blob").code(), win::UnsupportedType);
    EXPECT_EQ((*key)->readString("List").code(), win::UnsupportedType);
    EXPECT_EQ((*key)->valueType("List").valueOr(0), RegType::MultiString);
    EXPECT_EQ((*key)->writeString("Top", "5").code(), win::AccessDenied);

    auto writable =
        registry.createKey(RegistryRoot::CurrentUser, "SOFTWARE\\Quorix\\DBAccess\\Debug");
    ASSERT_TRUE(writable);
    ASSERT_TRUE((*writable)->writeInteger("Top", 7));
    EXPECT_EQ((*key)->readInteger("Top").valueOr(0), 7u);
    // Values of other types survive a rewrite unchanged.
    EXPECT_THAT(host.readReal(host.host().registryFile(RegistryRoot::CurrentUser)),
                HasSubstr("\"Blob\"=hex(3):01,02,ff\n"));
}

TEST_F(RegistryTest, CorruptLinesAreReportedAndSkipped) {
    host.writeReal(host.host().registryFile(RegistryRoot::CurrentUser), "; comment\n"
                                                                        "[SOFTWARE\\Good]\n"
                                                                        "\"A\"=\"1\"\n"
                                                                        "\"B\"=dword:12\n"
                                                                        "[SOFTWARE\\Broken\n"
                                                                        "\"C\"=\"3\"\n"
                                                                        "[SOFTWARE\\Good]\n"
                                                                        "\"D\"=\"unterminated\n");
    DiagnosticCapture diagnostics;
    auto key = registry.openKey(RegistryRoot::CurrentUser, "SOFTWARE\\Good");
    ASSERT_TRUE(key);
    EXPECT_THAT((*key)->valueNames().valueOr({}), ElementsAre("A"));
    EXPECT_EQ((*key)->readString("B").code(), win::FileNotFound);
    const auto file = host.host().registryFile(RegistryRoot::CurrentUser).string();
    EXPECT_THAT(diagnostics.messages, ::testing::Contains(HasSubstr(file + ":4:")));
    EXPECT_THAT(diagnostics.messages, ::testing::Contains(HasSubstr(file + ":5:")));
    EXPECT_THAT(diagnostics.messages, ::testing::Contains(HasSubstr(file + ":8:")));
    EXPECT_FALSE(registry.openKey(RegistryRoot::CurrentUser, "SOFTWARE\\Broken"));
}

} // namespace
} // namespace kv::platform::test
