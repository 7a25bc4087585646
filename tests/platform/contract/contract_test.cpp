// The promises of the platform interfaces that hold in every backend, checked with one source
// over the simulated host and over Windows (the cross build runs it under Wine): the code page
// rules, the file functions' error numbers, the shell copy's progress, the registry, the
// loopback listening port, the wake-up of a sleeping thread, and what a server program uses: held files, its machine, its TCP
// connections and its UDP responder port.

#include "platform/CodePage.h"
#include "platform/Datagram.h"
#include "platform/DatagramPort.h"
#include "platform/FileHold.h"
#include "platform/TcpListener.h"
#include "platform/TcpServer.h"
#include "platform/TcpStream.h"
#include "platform/Wakeup.h"
#include "tests/platform/contract/ContractEnv.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kv::platform::contract {
namespace {

using ::testing::UnorderedElementsAre;

} // namespace

void toleratedWineDifference(const char* what) {
    std::printf("[ WINE     ] tolerated difference from Windows: %s\n", what);
    ::testing::Test::RecordProperty("wine_difference", what);
}

std::shared_ptr<void> ContractEnv::hold(const std::string& path) {
    auto real = machine().resolve(path);
    if (!real)
        return nullptr;
    auto held = FileHold::hold(*real);
    if (!held)
        return nullptr;
    return std::make_shared<FileHold>(std::move(held).value());
}

namespace {

class Contract : public ::testing::Test {
protected:
    std::unique_ptr<ContractEnv> env = makeContractEnv();
    FileSystem& files = env->platform().files();
    std::string path(const std::string& name) const { return env->folder() + "\\" + name; }
};

// Windows-1254: Turkish letters to their bytes and back; what the page lacks, bytes that are not
// UTF-8 and bytes the page leaves undefined become "?" (no best fit: "Ā" is not "A", and 0x81 is
// not U+0081).
TEST_F(Contract, CodePage1254KeepsTurkishAndMarksTheRest) {
    const auto codePage = openCodePage(1254);
    ASSERT_TRUE(codePage);
    EXPECT_EQ(codePage->number(), 1254u);
    EXPECT_EQ(codePage->fromUtf8("ç ğ ı İ ö ş ü"), "\xE7 \xF0 \xFD \xDD \xF6 \xFE \xFC");
    EXPECT_EQ(codePage->fromUtf8("Ç Ğ I İ Ö Ş Ü"), "\xC7 \xD0 I \xDD \xD6 \xDE \xDC");
    EXPECT_EQ(codePage->toUtf8("\xE7\xF0\xFD\xDD\xF6\xFE\xFC \xC7\xD0\xD6\xDE\xDC"),
              "çğıİöşü ÇĞÖŞÜ");
    EXPECT_EQ(codePage->fromUtf8("a日b€cĀ"), "a?b\x80"
                                             "c?");
    EXPECT_EQ(codePage->fromUtf8("Āē ő"), "?? ?");        // best fit would give "Ae o"
    EXPECT_EQ(codePage->fromUtf8("x\xFFy\xC3"), "x?y?");  // not UTF-8
    EXPECT_EQ(codePage->fromUtf8("a\U0001F600b"), "a?b"); // beyond 16 bits: one "?"
    EXPECT_EQ(codePage->fromUtf8("\xC2\x81"), "?");       // U+0081 is no character of 1254
    EXPECT_EQ(codePage->toUtf8("a\x81"
                               "b\x8D\x8E\x8F\x90\x9D\x9E"),
              "a?b??????"); // undefined in 1254
    EXPECT_EQ(codePage->toUtf8("\x80\x9F\xFF"), "€Ÿÿ");
    EXPECT_EQ(codePage->fromUtf8(""), "");
    EXPECT_EQ(codePage->toUtf8(""), "");
    // Every defined byte comes back as itself.
    for (int b = 0x20; b < 0x100; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::string text = codePage->toUtf8(byte);
        if (text != "?") {
            EXPECT_EQ(codePage->fromUtf8(text), byte) << "byte " << b;
        }
    }
}

// The shell copy reports 0, every chunk and the end; it replaces the target, makes missing
// folders and copies into an existing folder under the source's name.
TEST_F(Contract, ShellCopyReportsEveryChunkAndReplaces) {
    const std::uint64_t size = 2 * ShellCopyChunk + 123; // three chunks
    ASSERT_TRUE(files.writeFile(path("source.mdf"), std::string(size, 'k')));
    ASSERT_TRUE(files.writeFile(path("target.mdf"), "old"));

    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    const auto progress = [&](std::uint64_t done, std::uint64_t total) {
        calls.emplace_back(done, total);
    };
    EXPECT_EQ(files.shellCopy(path("source.mdf"), path("TARGET.mdf"), progress), 0);
    EXPECT_EQ(files.fileSize(path("target.mdf")).valueOr(0), size);
    using Call = std::pair<std::uint64_t, std::uint64_t>;
    EXPECT_THAT(calls, ::testing::ElementsAre(Call{0, size}, Call{ShellCopyChunk, size},
                                              Call{2 * ShellCopyChunk, size}, Call{size, size}));

    calls.clear();
    ASSERT_TRUE(files.writeFile(path("empty.ldf"), ""));
    EXPECT_EQ(files.shellCopy(path("empty.ldf"), path("New\\Folder\\empty.ldf"), progress), 0);
    EXPECT_TRUE(files.fileExists(path("new\\folder\\EMPTY.LDF")));
    EXPECT_THAT(calls, ::testing::ElementsAre(Call{0, 0}));

    ASSERT_TRUE(files.writeFile(path("New\\empty.ldf"), "old"));
    EXPECT_EQ(files.shellCopy(path("empty.ldf"), path("New"), {}), 0);
    EXPECT_EQ(files.fileSize(path("New\\empty.ldf")).valueOr(99), 0u);
}

// The error numbers of the file functions, the same in every backend.
TEST_F(Contract, FileFunctionsFailWithWindowsNumbers) {
    ASSERT_TRUE(files.writeFile(path("a.mdf"), "a"));
    ASSERT_TRUE(files.writeFile(path("b.mdf"), "b"));
    ASSERT_TRUE(files.createFolder(path("Sub")));

    EXPECT_EQ(files.shellCopy(path("missing.mdf"), path("x.mdf"), {}),
              static_cast<int>(win::FileNotFound));
    EXPECT_EQ(files.shellCopy(path("NoFolder\\a.mdf"), path("x.mdf"), {}),
              static_cast<int>(win::PathNotFound));
    EXPECT_EQ(files.shellCopy(path("Sub"), path("x.mdf"), {}), static_cast<int>(win::AccessDenied));
    EXPECT_FALSE(files.fileExists(path("x.mdf")));

    EXPECT_EQ(files.copyFile(path("missing.mdf"), path("x.mdf"), false).code(), win::FileNotFound);
    EXPECT_EQ(files.copyFile(path("a.mdf"), path("b.mdf"), true).code(), win::FileExists);
    EXPECT_TRUE(files.copyFile(path("a.mdf"), path("b.mdf"), false));
    EXPECT_EQ(files.readFile(path("b.mdf")).valueOr(""), "a");
    EXPECT_EQ(files.copyFile(path("a.mdf"), path("NoFolder\\b.mdf"), false).code(),
              win::PathNotFound);

    EXPECT_EQ(files.renameFile(path("a.mdf"), path("b.mdf")).code(), win::AlreadyExists);
    EXPECT_TRUE(files.renameFile(path("a.mdf"), path("A.MDF")));
    EXPECT_EQ(files.renameFile(path("missing.mdf"), path("c.mdf")).code(), win::FileNotFound);

    EXPECT_EQ(files.deleteFile(path("missing.mdf")).code(), win::FileNotFound);
    EXPECT_EQ(files.deleteFile(path("NoFolder\\x")).code(), win::PathNotFound);
    EXPECT_TRUE(files.deleteFileIfPresent(path("missing.mdf")));

    EXPECT_EQ(files.createFolder(path("Sub")).code(), win::AlreadyExists);
    EXPECT_EQ(files.createFolder(path("NoFolder\\Sub")).code(), win::PathNotFound);
    EXPECT_EQ(files.fileSize(path("Sub")).code(), win::AccessDenied);
    EXPECT_EQ(files.readFile(path("missing.mdf")).code(), win::FileNotFound);
    EXPECT_TRUE(files.folderExists(path("SUB")));
    EXPECT_FALSE(files.fileExists(path("Sub")));
}

// A name with letters beyond the ANSI code page is taken as it is by every file function and
// is never mistaken for a look-alike: "ā" is not "a", so deleting "kelvora_ā.mdf" must not
// delete "kelvora_a.mdf".
TEST_F(Contract, NamesBeyondTheCodePageAreNeverConfused) {
    ASSERT_TRUE(files.writeFile(path("kelvora_a.mdf"), "plain"));
    EXPECT_FALSE(files.fileExists(path("kelvora_\u0101.mdf")));
    EXPECT_EQ(files.deleteFile(path("kelvora_\u0101.mdf")).code(), win::FileNotFound);
    EXPECT_EQ(files.renameFile(path("kelvora_\u0101.mdf"), path("x.mdf")).code(),
              win::FileNotFound);
    EXPECT_EQ(files.copyFile(path("kelvora_\u0101.mdf"), path("x.mdf"), false).code(),
              win::FileNotFound);
    EXPECT_FALSE(files.fileExists(path("x.mdf")));
    EXPECT_EQ(files.readFile(path("kelvora_a.mdf")).valueOr(""), "plain");

    const std::string folder = path("Veri_\u0416");
    const std::string name = folder + "\\kelvora_\u0101.mdf";
    const auto made = files.createFolder(folder);
    ASSERT_TRUE(made) << made.error().message;
    EXPECT_TRUE(files.folderExists(folder));
    ASSERT_TRUE(files.writeFile(name, "macron"));
    EXPECT_TRUE(files.fileExists(name));
    EXPECT_EQ(files.fileSize(name).valueOr(0), 6u);
    EXPECT_TRUE(files.copyFile(name, folder + "\\copy_\u0101.mdf", true));
    EXPECT_EQ(files.shellCopy(name, folder + "\\shell_\u0101.mdf", {}), 0);
    EXPECT_TRUE(files.renameFile(name, folder + "\\moved_\u0101.mdf"));
    EXPECT_FALSE(files.fileExists(name));
    for (const char* copy : {"\\copy_\u0101.mdf", "\\shell_\u0101.mdf", "\\moved_\u0101.mdf"}) {
        EXPECT_EQ(files.readFile(folder + copy).valueOr(""), "macron") << copy;
        EXPECT_TRUE(files.deleteFile(folder + copy)) << copy;
    }
    EXPECT_EQ(files.readFile(path("kelvora_a.mdf")).valueOr(""), "plain");
}

// Writing a file replaces it whole or leaves it as it was: onto a folder or into a missing one
// it fails with the Windows numbers and leaves nothing behind.
TEST_F(Contract, WriteFileReplacesOrFailsCleanly) {
    ASSERT_TRUE(files.writeFile(path("Halvetor.Log"), std::string(100000, 'o')));
    ASSERT_TRUE(files.writeFile(path("halvetor.log"), "short"));
    EXPECT_EQ(files.readFile(path("Halvetor.Log")).valueOr(""), "short");
    ASSERT_TRUE(files.createFolder(path("Sub")));
    EXPECT_EQ(files.writeFile(path("Sub"), "x").code(), win::AccessDenied);
    EXPECT_EQ(files.writeFile(path("NoFolder\\x.log"), "x").code(), win::PathNotFound);
    EXPECT_TRUE(files.folderExists(path("Sub")));
    EXPECT_FALSE(files.folderExists(path("NoFolder")));
    {
        const auto held = env->hold(path("Halvetor.Log"));
        ASSERT_TRUE(held);
        EXPECT_EQ(files.writeFile(path("Halvetor.Log"), "new").code(), win::SharingViolation);
    }
    EXPECT_EQ(files.readFile(path("Halvetor.Log")).valueOr(""), "short");
}

// A file held without sharing (an attached database file) refuses to be copied from or onto,
// deleted or renamed with the sharing violation; the refusals end with the hold.
TEST_F(Contract, AHeldFileRefusesWithSharingViolation) {
    ASSERT_TRUE(files.writeFile(path("data.mdf"), "data"));
    ASSERT_TRUE(files.writeFile(path("other.mdf"), "other"));
    {
        const auto held = env->hold(path("data.mdf"));
        ASSERT_TRUE(held);
        EXPECT_EQ(files.shellCopy(path("data.mdf"), path("copy.mdf"), {}),
                  static_cast<int>(win::SharingViolation));
        EXPECT_EQ(files.shellCopy(path("other.mdf"), path("data.mdf"), {}),
                  static_cast<int>(win::SharingViolation));
        EXPECT_EQ(files.copyFile(path("data.mdf"), path("copy.mdf"), false).code(),
                  win::SharingViolation);
        EXPECT_EQ(files.copyFile(path("other.mdf"), path("data.mdf"), false).code(),
                  win::SharingViolation);
        EXPECT_EQ(files.deleteFile(path("data.mdf")).code(), win::SharingViolation);
        EXPECT_EQ(files.renameFile(path("data.mdf"), path("moved.mdf")).code(),
                  win::SharingViolation);
        EXPECT_FALSE(files.fileExists(path("copy.mdf")));
    }
    EXPECT_EQ(files.shellCopy(path("other.mdf"), path("data.mdf"), {}), 0);
    EXPECT_EQ(files.readFile(path("data.mdf")).valueOr(""), "other");
    EXPECT_TRUE(files.deleteFile(path("data.mdf")));
}

// A read-only file (an old log the user protected) refuses deletion and being written or copied
// onto with access denied, and keeps its contents; it may be read, copied from and renamed.
TEST_F(Contract, AReadOnlyFileRefusesWithAccessDenied) {
    ASSERT_TRUE(files.writeFile(path("Halvetor.Log"), "older run"));
    ASSERT_TRUE(files.writeFile(path("other.txt"), "other"));
    ASSERT_TRUE(env->setReadOnly(path("Halvetor.Log"), true));

    EXPECT_EQ(files.writeFile(path("Halvetor.Log"), "new run").code(), win::AccessDenied);
    EXPECT_EQ(files.deleteFile(path("Halvetor.Log")).code(), win::AccessDenied);
    EXPECT_EQ(files.copyFile(path("other.txt"), path("Halvetor.Log"), false).code(),
              win::AccessDenied);
    EXPECT_EQ(files.shellCopy(path("other.txt"), path("Halvetor.Log"), {}),
              static_cast<int>(win::AccessDenied));
    EXPECT_EQ(files.readFile(path("Halvetor.Log")).valueOr(""), "older run");

    EXPECT_TRUE(files.copyFile(path("Halvetor.Log"), path("copy.log"), true));
    EXPECT_TRUE(files.renameFile(path("Halvetor.Log"), path("Halvetor.Log1")));
    EXPECT_EQ(files.readFile(path("Halvetor.Log1")).valueOr(""), "older run");

    // Writable again, so that the folder can go.
    EXPECT_TRUE(env->setReadOnly(path("Halvetor.Log1"), false));
    (void)env->setReadOnly(path("copy.log"), false);
    EXPECT_TRUE(files.deleteFile(path("Halvetor.Log1")));
}

// A copy of a read-only file (by the copy function or the shell copy) is read-only too; one that
// the program makes for its own work is made writable again and can then be written and deleted;
// the source keeps its attribute. A file that is writable
// already stays so, and a missing file is named as missing.
TEST_F(Contract, ClearReadOnlyMakesACopyWritableAgain) {
    ASSERT_TRUE(files.writeFile(path("data.mdf"), "user data"));
    ASSERT_TRUE(env->setReadOnly(path("data.mdf"), true));
    ASSERT_TRUE(files.copyFile(path("data.mdf"), path("scratch.mdf"), true));
    EXPECT_EQ(files.deleteFile(path("scratch.mdf")).code(), win::AccessDenied);

    EXPECT_TRUE(files.clearReadOnly(path("scratch.mdf")));
    EXPECT_TRUE(files.clearReadOnly(path("scratch.mdf")));
    EXPECT_TRUE(files.writeFile(path("scratch.mdf"), "rebuilt"));
    EXPECT_EQ(files.readFile(path("scratch.mdf")).valueOr(""), "rebuilt");
    EXPECT_TRUE(files.deleteFile(path("scratch.mdf")));
    EXPECT_EQ(files.clearReadOnly(path("scratch.mdf")).code(), win::FileNotFound);

    // The shell copy (the rebuild's copies with progress) keeps the attribute as well.
    ASSERT_EQ(files.shellCopy(path("data.mdf"), path("scratch.mdf"), {}), 0);
    EXPECT_EQ(files.deleteFile(path("scratch.mdf")).code(), win::AccessDenied);
    EXPECT_TRUE(files.clearReadOnly(path("scratch.mdf")));
    EXPECT_TRUE(files.deleteFile(path("scratch.mdf")));
    EXPECT_EQ(files.deleteFile(path("data.mdf")).code(), win::AccessDenied);

    EXPECT_TRUE(env->setReadOnly(path("data.mdf"), false));
    EXPECT_TRUE(files.deleteFile(path("data.mdf")));
}

// What a check asks before it changes anything: a file's size, time and attributes, a folder
// as a folder, and a missing file as missing.
TEST_F(Contract, FileInfoGivesSizeTimeAndAttributes) {
    const auto before = std::chrono::system_clock::now() - std::chrono::minutes(2);
    ASSERT_TRUE(files.writeFile(path("data.mdf"), std::string(1234, 'd')));
    const auto info = files.fileInfo(path("data.mdf"));
    ASSERT_TRUE(info) << info.error().message;
    EXPECT_EQ(info->size, 1234u);
    EXPECT_FALSE(info->folder);
    EXPECT_FALSE(info->readOnly);
    EXPECT_GT(info->lastWrite, before);
    EXPECT_LT(info->lastWrite, std::chrono::system_clock::now() + std::chrono::minutes(2));

    ASSERT_TRUE(env->setReadOnly(path("data.mdf"), true));
    EXPECT_TRUE(files.fileInfo(path("data.mdf")).valueOr({}).readOnly);
    ASSERT_TRUE(env->setReadOnly(path("data.mdf"), false));

    ASSERT_TRUE(files.createFolder(path("sub")));
    const auto folder = files.fileInfo(path("sub"));
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->folder);
    EXPECT_EQ(files.fileInfo(path("missing.mdf")).code(), win::FileNotFound);
    EXPECT_EQ(files.fileInfo(path("nowhere\\missing.mdf")).code(), win::PathNotFound);
}

// The free space of a folder's volume: some bytes on the volume the tests write to, the same
// volume seen from a folder inside it, and no answer for a folder that does not exist.
TEST_F(Contract, FreeSpaceOfAnExistingFolder) {
    const auto free = files.freeSpace(env->folder());
    ASSERT_TRUE(free) << free.error().message;
    EXPECT_GT(*free, 0u);
    ASSERT_TRUE(files.createFolder(path("sub")));
    const auto inside = files.freeSpace(path("sub"));
    ASSERT_TRUE(inside) << inside.error().message;
    // Other programs write too; the two answers are of the same volume.
    const auto difference = *free > *inside ? *free - *inside : *inside - *free;
    EXPECT_LT(difference, std::uint64_t{1} << 30);
    EXPECT_FALSE(files.freeSpace(path("missing")));
}

// The programs that hold a file: this one while it holds the file without sharing, nobody once
// the hold has ended, and nobody for a file that does not exist.
TEST_F(Contract, FileHoldersNameTheProgramThatHoldsAFile) {
    ASSERT_TRUE(files.writeFile(path("data.mdf"), "data"));
    const auto none = files.fileHolders(path("data.mdf"));
    ASSERT_TRUE(none) << none.error().message;
    EXPECT_TRUE(none->empty());
    {
        const auto held = env->hold(path("data.mdf"));
        ASSERT_TRUE(held);
        const auto holders = files.fileHolders(path("data.mdf"));
        ASSERT_TRUE(holders) << holders.error().message;
        if (holders->empty() && runningUnderWine()) {
            toleratedWineDifference("the Restart Manager (RmGetList) lists no programs");
        } else {
            ASSERT_EQ(holders->size(), 1u);
            EXPECT_EQ(holders->front().pid, env->ownProcessId());
            EXPECT_FALSE(holders->front().program.empty());
            EXPECT_EQ(holders->front().service, "");
        }
    }
    const auto after = files.fileHolders(path("data.mdf"));
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->empty());
    const auto missing = files.fileHolders(path("missing.mdf"));
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing->empty());
}

// A key of our own: strings and DWORDs, types, missing values, the names in any order.
TEST_F(Contract, RegistryKeyOfOurOwn) {
    auto& registry = env->platform().registry();
    EXPECT_EQ(registry.openKey(RegistryRoot::CurrentUser, env->registryKey()).code(),
              win::FileNotFound);
    auto key = registry.createKey(RegistryRoot::CurrentUser, env->registryKey());
    ASSERT_TRUE(key) << key.error().message;
    ASSERT_TRUE((*key)->writeString("Server 1", "KELVORA-PC\\Şube"));
    ASSERT_TRUE((*key)->writeString("Path", "%SystemRoot%\\x", true));
    ASSERT_TRUE((*key)->writeInteger("Left", 0xFFFFFFF0u));
    ASSERT_TRUE((*key)->writeString("Empty", ""));
    // Letters beyond the code page stay themselves, in names and in texts.
    ASSERT_TRUE((*key)->writeString("Sunucu \u0101", "PC-\u014D\\\u0416"));

    auto read = registry.openKey(RegistryRoot::CurrentUser, env->registryKey());
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ((*read)->readString("server 1").valueOr(""), "KELVORA-PC\\Şube");
    EXPECT_EQ((*read)->readString("Path").valueOr(""), "%SystemRoot%\\x");
    EXPECT_EQ((*read)->valueType("Path").valueOr(0), RegType::ExpandString);
    EXPECT_EQ((*read)->readInteger("LEFT").valueOr(0), 0xFFFFFFF0u);
    EXPECT_EQ((*read)->readString("Empty").valueOr("x"), "");
    EXPECT_EQ((*read)->readString("Sunucu \u0101").valueOr(""), "PC-\u014D\\\u0416");
    EXPECT_EQ((*read)->readString("Sunucu a").code(), win::FileNotFound);
    EXPECT_EQ((*read)->readString("Left").code(), win::UnsupportedType);
    EXPECT_EQ((*read)->readInteger("Path").code(), win::UnsupportedType);
    EXPECT_EQ((*read)->readString("Missing").code(), win::FileNotFound);
    EXPECT_THAT((*read)->valueNames().valueOr({}),
                UnorderedElementsAre("Server 1", "Path", "Left", "Empty", "Sunucu \u0101"));
    EXPECT_EQ((*read)->writeString("x", "y").code(), win::AccessDenied); // opened for reading

    EXPECT_TRUE((*key)->deleteValue("Path"));
    EXPECT_EQ((*key)->deleteValue("Path").code(), win::FileNotFound);
    EXPECT_THAT((*key)->valueNames().valueOr({}),
                UnorderedElementsAre("Server 1", "Left", "Empty", "Sunucu \u0101"));
}

// Gathers what a listener reports until `done` holds (or two seconds pass).
template <typename Done>
std::vector<TcpListener::Event> waitFor(TcpListener& listener, Done done) {
    std::vector<TcpListener::Event> seen;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done(seen) && std::chrono::steady_clock::now() < until) {
        for (auto& event : listener.wait(50))
            seen.push_back(std::move(event));
    }
    return seen;
}

std::string received(const std::vector<TcpListener::Event>& events, int connection) {
    std::string bytes;
    for (const auto& event : events) {
        if (event.kind == TcpListener::Event::Kind::Received && event.connection == connection)
            bytes += event.bytes;
    }
    return bytes;
}

bool closed(const std::vector<TcpListener::Event>& events, int connection) {
    for (const auto& event : events) {
        if (event.kind == TcpListener::Event::Kind::Closed && event.connection == connection)
            return true;
    }
    return false;
}

// The trace viewer's port: two programs at once, each read in order and told apart, a program
// that ends is reported closed in order, and a port already taken is refused with 10048.
TEST_F(Contract, LoopbackListenerTellsConnectionsApart) {
    auto listener = listenTcp(0);
    ASSERT_TRUE(listener) << listener.error().message;
    TcpListener& port = **listener;
    ASSERT_NE(port.port(), 0);

    auto first = connectTcp("127.0.0.1", port.port(), 1000);
    auto second = connectTcp("localhost", port.port(), 1000);
    ASSERT_TRUE(first && second);
    auto events = waitFor(port, [](const auto& seen) { return seen.size() >= 2; });
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, TcpListener::Event::Kind::Accepted);
    EXPECT_EQ(events[1].kind, TcpListener::Event::Kind::Accepted);
    EXPECT_EQ(events[0].connection, 1);
    EXPECT_EQ(events[1].connection, 2);
    EXPECT_EQ(port.connections(), 2u);

    // Which accepted connection is which program is not known: tell them apart by their bytes.
    ASSERT_TRUE((*first)->sendAll("one-", 4));
    ASSERT_TRUE((*second)->sendAll("two", 3));
    ASSERT_TRUE((*first)->sendAll("more", 4));
    events = waitFor(port, [](const auto& seen) {
        return received(seen, 1).size() + received(seen, 2).size() >= 11;
    });
    const std::string a = received(events, 1), b = received(events, 2);
    EXPECT_TRUE((a == "one-more" && b == "two") || (a == "two" && b == "one-more"))
        << a << "|" << b;

    const int ofFirst = a == "one-more" ? 1 : 2;
    first->reset();
    events = waitFor(port, [&](const auto& seen) { return closed(seen, ofFirst); });
    ASSERT_TRUE(closed(events, ofFirst));
    for (const auto& event : events) {
        if (event.kind == TcpListener::Event::Kind::Closed) {
            EXPECT_EQ(event.error.code, 0u) << event.error.message;
        }
    }
    EXPECT_EQ(port.connections(), 1u);
    port.close(3 - ofFirst);
    port.close(42); // unknown: nothing happens
    EXPECT_EQ(port.connections(), 0u);

    auto taken = listenTcp(port.port());
    ASSERT_FALSE(taken);
    EXPECT_EQ(taken.code(), wsa::AddressInUse) << taken.error().message;
    EXPECT_FALSE(socketErrorText(taken.code()).empty());
}

// A held file is read and written at any offset by its holder alone: a second hold fails with
// the sharing violation until the first ends; missing files and folders have their own numbers.
TEST_F(Contract, AFileHoldReadsAndWritesAtOffsets) {
    const ServerMachine machine = env->machine();
    const auto real = [&](const std::string& name) { return machine.resolve(path(name)).value(); };
    EXPECT_EQ(FileHold::hold(real("missing.mdf")).code(), win::FileNotFound);
    EXPECT_EQ(FileHold::hold(real("no\\such.mdf"), FileHold::Open::CreateIfMissing).code(),
              win::PathNotFound);

    auto held = FileHold::hold(real("data.mdf"), FileHold::Open::CreateIfMissing);
    ASSERT_TRUE(held) << held.error().message;
    EXPECT_TRUE(held->holding());
    ASSERT_TRUE(held->writeAt(8192, "page one", 8));
    ASSERT_TRUE(held->writeAt(0, "head", 4));
    EXPECT_EQ(held->size().valueOr(0), 8200u);
    char buffer[16] = {};
    EXPECT_EQ(held->readAt(8192, buffer, sizeof buffer).valueOr(99), 8u); // short at the end
    EXPECT_EQ(std::string(buffer, 8), "page one");
    EXPECT_EQ(held->readAt(9000, buffer, sizeof buffer).valueOr(99), 0u);
    EXPECT_TRUE(held->flushRange(8192, 8));
    EXPECT_TRUE(held->flush());

    EXPECT_EQ(FileHold::hold(real("data.mdf")).code(), win::SharingViolation);
    EXPECT_TRUE(held->resize(4));
    EXPECT_EQ(held->size().valueOr(0), 4u);
    held->release();
    EXPECT_FALSE(held->holding());
    EXPECT_EQ(held->readAt(0, buffer, 4).code(), win::InvalidHandle);
    EXPECT_EQ(files.readFile(path("data.mdf")).valueOr(""), "head");

    // Shared, the file is open to every other opener; closed again, it can be held again.
    {
        auto shared = FileHold::openShared(real("data.mdf"));
        ASSERT_TRUE(shared) << shared.error().message;
        EXPECT_TRUE(files.copyFile(path("data.mdf"), path("copy.mdf"), false));
    }
    auto again = FileHold::hold(real("data.mdf"));
    EXPECT_TRUE(again) << again.error().message;
}

// The machine of a server program is the machine of the platform object: its name, its code
// page, a loopback responder address, and Windows paths that name the files the file functions
// name.
TEST_F(Contract, TheServerMachineIsThePlatformsMachine) {
    const ServerMachine machine = env->machine();
    EXPECT_EQ(machine.computerName(), env->platform().computerName());
    EXPECT_EQ(machine.codePage(), env->platform().codePage().number());
    EXPECT_EQ(machine.discoveryListen().address.rfind("127.", 0), 0u);
    EXPECT_FALSE(machine.resolve("Kelvora\\Data\\kelvora_Data.MDF"));

    ASSERT_TRUE(files.writeFile(path("Kelvora_DATA.MDF"), "pages"));
    auto real = machine.resolve(path("Kelvora_DATA.MDF"));
    ASSERT_TRUE(real) << real.error().message;
    auto file = FileHold::openShared(*real);
    ASSERT_TRUE(file) << file.error().message;
    char buffer[8] = {};
    EXPECT_EQ(file->readAt(0, buffer, sizeof buffer).valueOr(0), 5u);
    EXPECT_EQ(std::string(buffer, 5), "pages");
}

// A server's connection, one thread each: bytes arrive in order, the end of the peer reads as 0,
// a cut from another thread ends a waiting read, and a stop ends a waiting accept.
TEST_F(Contract, TcpServerConnectionsAreReadAndCut) {
    auto acceptor = acceptTcp(0);
    ASSERT_TRUE(acceptor) << acceptor.error().message;
    TcpAcceptor& port = **acceptor;
    auto none = port.accept(20);
    ASSERT_TRUE(none) << none.error().message;
    EXPECT_FALSE(*none);

    auto client = connectTcp("127.0.0.1", port.port(), 1000);
    ASSERT_TRUE(client) << client.error().message;
    auto accepted = port.accept(5000);
    ASSERT_TRUE(accepted && *accepted);
    TcpConnection& connection = **accepted;
    EXPECT_EQ(connection.peer().rfind("127.0.0.1:", 0), 0u) << connection.peer();

    ASSERT_TRUE((*client)->sendAll("hello", 5));
    EXPECT_TRUE(connection.readable(5000).valueOr(false));
    std::string got;
    char buffer[64];
    while (got.size() < 5) {
        auto n = connection.receive(buffer, sizeof buffer);
        ASSERT_TRUE(n && *n > 0);
        got.append(buffer, *n);
    }
    EXPECT_EQ(got, "hello");
    EXPECT_FALSE(connection.readable(20).valueOr(true));
    client->reset();
    EXPECT_EQ(connection.receive(buffer, sizeof buffer).valueOr(99), 0u);

    // A read that waits in another thread ends when the connection is cut.
    auto second = connectTcp("127.0.0.1", port.port(), 1000);
    ASSERT_TRUE(second);
    auto other = port.accept(5000);
    ASSERT_TRUE(other && *other);
    auto reading = std::async(std::launch::async, [&] {
        char one[16];
        return (*other)->receive(one, sizeof one).valueOr(0);
    });
    EXPECT_TRUE((*other)->sendAll("answer", 6));
    (*other)->cut();
    ASSERT_EQ(reading.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(reading.get(), 0u);
    EXPECT_FALSE((*other)->sendAll("late", 4));

    auto taken = acceptTcp(port.port());
    ASSERT_FALSE(taken);
    EXPECT_EQ(taken.code(), wsa::AddressInUse) << taken.error().message;

    auto waiting = std::async(std::launch::async, [&] { return port.accept(30000); });
    port.stop();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    auto stopped = waiting.get();
    EXPECT_TRUE(stopped && !*stopped);
}

// The responder's port: loopback addresses only, the sender answered where it asked from, and
// a stop ends a waiting receive.
TEST_F(Contract, DatagramPortAnswersLoopbackSenders) {
    EXPECT_EQ(bindDatagramPort("10.1.2.3", 0).code(), win::InvalidParameter);
    EXPECT_EQ(bindDatagramPort("0.0.0.0", 0).code(), win::InvalidParameter);
    EXPECT_EQ(bindDatagramPort("localhost", 0).code(), win::InvalidParameter);
    auto bound = bindDatagramPort("127.0.0.1", 0);
    ASSERT_TRUE(bound) << bound.error().message;
    DatagramPort& port = **bound;
    ASSERT_NE(port.port(), 0);

    auto answering = std::async(std::launch::async, [&] {
        auto request = port.receive();
        if (!request || !*request)
            return std::string("no request");
        const std::uint8_t answer[] = {'h', 'e', 'r', 'e'};
        if (!port.answer(**request, answer, sizeof answer))
            return std::string("no answer");
        return std::string((*request)->bytes.begin(), (*request)->bytes.end());
    });
    auto client = openDiscoverySocket(DiscoveryTarget{"127.0.0.1", port.port(), false}, 5000);
    ASSERT_TRUE(client) << client.error().message;
    const std::uint8_t request[] = {0x03};
    ASSERT_TRUE((*client)->send(request, sizeof request));
    std::uint8_t reply[16] = {};
    EXPECT_EQ((*client)->receive(reply, sizeof reply).valueOr(0), 4u);
    EXPECT_EQ(std::string(reply, reply + 4), "here");
    ASSERT_EQ(answering.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(answering.get(), "\x03");

    auto waiting = std::async(std::launch::async, [&] { return port.receive(); });
    port.stop();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    auto stopped = waiting.get();
    EXPECT_TRUE(stopped && !*stopped);
}

// A wake ends a sleep on an earlier ticket at once, before or during the sleep; a sleep without
// one lasts about its time; and the waker never waits, even with nobody asleep.
TEST_F(Contract, AWakeupEndsTheSleepOfItsTicket) {
    using namespace std::chrono;
    Wakeup wakeup;
    const auto timed = [](const auto& f) {
        const auto start = steady_clock::now();
        f();
        return duration_cast<milliseconds>(steady_clock::now() - start).count();
    };
    // Given before the sleep, after the ticket: the sleep returns at once.
    std::uint32_t ticket = wakeup.ticket();
    wakeup.wake();
    EXPECT_LT(timed([&] { wakeup.sleep(ticket, 5000); }), 1000);
    // No wake: the sleep lasts its time (the system's timer may end it a little early).
    EXPECT_GE(timed([&] { wakeup.sleep(wakeup.ticket(), 60); }), 40);
    // Given during the sleep, from another thread.
    for (int round = 0; round < 20; ++round) {
        ticket = wakeup.ticket();
        std::thread waker([&] {
            std::this_thread::sleep_for(milliseconds(round % 3));
            wakeup.wake();
        });
        EXPECT_LT(timed([&] { wakeup.sleep(ticket, 5000); }), 1000) << round;
        waker.join();
    }
    // Many wakes with nobody asleep cost little, and the next sleep on a fresh ticket still sleeps.
    EXPECT_LT(timed([&] {
                  for (int i = 0; i < 100000; ++i)
                      wakeup.wake();
              }),
              1000);
    EXPECT_GE(timed([&] { wakeup.sleep(wakeup.ticket(), 60); }), 40);
}

} // namespace
} // namespace kv::platform::contract
