// The support bundle on a simulated host: the zip is readable by other tools, it holds the
// listed files, and no password gets into it.

#include "console/database_names.h"
#include "console/support_bundle.h"
#include "console/zip_writer.h"
#include "product_drive.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>

namespace kv::console::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Runs a shell command; its standard output (and error), and its exit status in `status`.
std::string run(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return "cannot run " + command;
    std::array<char, 4096> buffer{};
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), n);
    status = ::pclose(pipe);
    return output;
}

// The names and contents of a zip file, as Python's zipfile reads them after checking every
// entry's CRC ("name<TAB>size" lines, then "OK").
std::string pythonListing(const std::filesystem::path& zip, int& status) {
    return run("python3 -c 'import sys, zipfile\n"
               "z = zipfile.ZipFile(sys.argv[1])\n"
               "bad = z.testzip()\n"
               "for i in z.infolist(): print(i.filename + \"\\t\" + str(i.file_size))\n"
               "print(\"OK\" if bad is None else \"BAD \" + bad)' '" +
                   zip.string() + "'",
               status);
}

std::string entry(const std::filesystem::path& zip, const std::string& name) {
    int status = 0;
    return run("unzip -p '" + zip.string() + "' '" + name + "'", status);
}

// Entries of every kind (empty, small, compressible, incompressible, a Turkish name) come out of
// other tools' readers as they went in.
TEST(ZipWriter, OtherToolsReadWhatItWrites) {
    std::string noise;
    std::uint32_t x = 12345;
    for (int i = 0; i < 100000; ++i) {
        x = x * 1664525u + 1013904223u;
        noise += static_cast<char>(x >> 24);
    }
    const std::vector<ZipEntry> entries = {{"empty.txt", ""},
                                           {"small.txt", "a"},
                                           {"big.txt", std::string(300000, 'k')},
                                           {"noise.bin", noise},
                                           {"klasör/günlük.txt", "çğıöşü"}};
    std::string error;
    const auto zip = makeZip(entries, std::chrono::system_clock::now(), error);
    ASSERT_TRUE(zip) << error;
    EXPECT_LT(zip->size(), noise.size() + 310000); // the repeated text was compressed
    const auto file = std::filesystem::temp_directory_path() /
                      ("kelvora-zip-" + std::to_string(::getpid()) + ".zip");
    { std::ofstream(file, std::ios::binary) << *zip; }
    int status = 0;
    const std::string listing = pythonListing(file, status);
    EXPECT_EQ(status, 0) << listing;
    EXPECT_EQ(listing, "empty.txt\t0\nsmall.txt\t1\nbig.txt\t300000\nnoise.bin\t100000\n"
                       "klasör/günlük.txt\t12\nOK\n");
    const std::string tested = run("unzip -t '" + file.string() + "'", status);
    EXPECT_EQ(status, 0) << tested;
    EXPECT_THAT(tested, HasSubstr("No errors detected"));
    EXPECT_EQ(entry(file, "big.txt"), std::string(300000, 'k'));
    EXPECT_EQ(entry(file, "noise.bin"), noise);
    std::filesystem::remove(file);

    EXPECT_FALSE(makeZip({{"", "nameless"}}, std::chrono::system_clock::now(), error));
}

// Passwords in the console's statements and in connection strings go; the rest stays.
TEST(SupportBundle, RedactSecretsRemovesPasswordsOnly) {
    EXPECT_EQ(redactSecrets("exec sp_addlogin 'kelvora','4729','kelvora','turkish'"),
              "exec sp_addlogin 'kelvora','***','kelvora','turkish'");
    EXPECT_EQ(redactSecrets("EXEC SP_PASSWORD 'old', 'new', 'sa'"),
              "EXEC SP_PASSWORD '***', '***', 'sa'");
    EXPECT_EQ(redactSecrets("Provider=SQLOLEDB.1;Password=k;User ID=sa;PWD=x y\r\nnext"),
              "Provider=SQLOLEDB.1;Password=***;User ID=sa;PWD=***\r\nnext");
    EXPECT_EQ(redactSecrets(std::string("the code ") + ProductLoginPassword + " here"),
              "the code *** here");
    // Other numbers that merely contain the digits stay.
    const std::string number = std::string("1") + ProductLoginPassword + "0";
    EXPECT_EQ(redactSecrets("page " + number), "page " + number);
    EXPECT_EQ(redactSecrets("Kelvora Datasına bağlanıldı."), "Kelvora Datasına bağlanıldı.");
}

class SupportBundleOnHost : public ProductDrive {
protected:
    std::map<std::string, std::string> bundle() {
        std::map<std::string, std::string> byName;
        for (auto& file :
             gatherSupportBundle(*platform_, nullptr, std::chrono::system_clock::now()))
            byName[file.name] = file.data;
        return byName;
    }
};

// From the command line on a machine without a server: the facts, the saved log with its last
// check, and no ERRORLOG where there is none.
TEST_F(SupportBundleOnHost, CommandLineBundleOfAMachineWithoutServer) {
    ASSERT_TRUE(files().writeFile("C:\\Kelvora\\Data\\kelvora_Data.MDF", std::string(5000, 'd')));
    // The saved log in the machine's code page, with a password that must not leave.
    const std::string log =
        "10:00:00 Program Açıldı.\r\n10:00:01 --------------------------------\r\n"
        "10:00:01 Data Onarma işlemine başlanıldı.\r\n10:00:02 Hata mesajı: Error: x\r\n"
        "10:00:03 exec sp_addlogin 'kelvora','4729'\r\n";
    ASSERT_TRUE(files().writeFile("C:\\Halvetor.Log", platform_->codePage().fromUtf8(log)));
    const auto files = bundle();
    EXPECT_THAT(files, ::testing::Contains(::testing::Key("bilgi.txt")));
    EXPECT_EQ(files.count("ERRORLOG"), 0u);
    EXPECT_EQ(files.count("ekran-gunlugu.txt"), 0u);
    const std::string& facts = files.at("bilgi.txt");
    EXPECT_THAT(facts, HasSubstr("Program: kelvora-console "));
    EXPECT_THAT(facts, HasSubstr("Bilgisayar adı: KELVORA-PC"));
    EXPECT_THAT(facts, HasSubstr("Servis MSSQLSERVER: kurulu değil"));
    EXPECT_THAT(facts, HasSubstr("Sunucu sürümü (kayıt defteri): bulunamadı"));
    EXPECT_THAT(facts, HasSubstr("ERRORLOG: okunamadı"));
    EXPECT_THAT(facts, HasSubstr("Boş yer C:\\: "));
    EXPECT_THAT(facts, HasSubstr("C:\\Kelvora\\Data\\kelvora_Data.MDF: 4 KB (5000 bayt), son "
                                 "yazma "));
    EXPECT_THAT(facts, HasSubstr("C:\\Kelvora\\Data\\kelvora_log.ldf: yok"));
    EXPECT_THAT(files.at("son-kontrol.txt"),
                HasSubstr("10:00:01 Data Onarma işlemine başlanıldı.\r\n"));
    EXPECT_THAT(files.at("son-kontrol.txt"), Not(HasSubstr("Program Açıldı.")));
    for (const auto& [name, data] : files)
        EXPECT_THAT(data, Not(HasSubstr(ProductLoginPassword))) << name;
}

// The server's ERRORLOG is found through the -e startup parameter setup records, and the
// window's own record of the last check takes the place of the saved log's.
TEST_F(SupportBundleOnHost, WindowBundleWithTheServersErrorLog) {
    auto key = platform_->registry().createKey(
        platform::RegistryRoot::LocalMachine,
        "SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer\\Parameters");
    ASSERT_TRUE(key);
    ASSERT_TRUE((*key)->writeString("SQLArg1", "-eC:\\Logs\\ERRORLOG"));
    auto version = platform_->registry().createKey(
        platform::RegistryRoot::LocalMachine,
        "SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer\\CurrentVersion");
    ASSERT_TRUE(version);
    ASSERT_TRUE((*version)->writeString("CurrentVersion", "8.00.2039"));
    ASSERT_TRUE(files().createFolder("C:\\Logs"));
    ASSERT_TRUE(files().writeFile("C:\\Logs\\ERRORLOG", "2024-05-12 Server started\r\n"));

    WindowFacts window;
    window.logLines = {"10:00:00 Program Açıldı."};
    window.shownFacts = {"Server durumu: Çalışıyor"};
    window.serverVersion = "Microsoft SQL Server 08.00.2039";
    window.lastCheck =
        CheckRecord{"12.05.2024 10:00:05", false, {{8928, "Page (1:9)"}}, "Error: Page (1:9)"};
    std::map<std::string, std::string> files;
    for (auto& file : gatherSupportBundle(*platform_, &window, std::chrono::system_clock::now()))
        files[file.name] = file.data;
    EXPECT_EQ(files.at("ERRORLOG"), "2024-05-12 Server started\r\n");
    EXPECT_THAT(files.at("bilgi.txt"), HasSubstr("Sunucu sürümü (kayıt defteri): 8.00.2039"));
    EXPECT_THAT(files.at("bilgi.txt"),
                HasSubstr("Sunucu sürümü (bağlantı): Microsoft SQL Server 08.00.2039"));
    EXPECT_THAT(files.at("bilgi.txt"), HasSubstr("ERRORLOG: C:\\Logs\\ERRORLOG, "));
    EXPECT_THAT(files.at("bilgi.txt"), HasSubstr("Pencerede görünen:\r\nServer durumu: Çalışıyor"));
    EXPECT_EQ(files.at("ekran-gunlugu.txt"), "10:00:00 Program Açıldı.\r\n");
    EXPECT_EQ(files.at("son-kontrol.txt"), "Son kontrol: 12.05.2024 10:00:05\r\nSonuç: hata "
                                           "bulundu\r\nMsg 8928: Page (1:9)\r\nİzleme metni: "
                                           "Error: Page (1:9)\r\n");

    // Written whole to the path given, readable by other tools.
    const std::string failed =
        writeSupportBundle(*platform_, &window, "C:\\destek.zip", std::chrono::system_clock::now());
    ASSERT_EQ(failed, "");
    int status = 0;
    const std::string listing = pythonListing(host_->resolve("C:\\destek.zip").value(), status);
    EXPECT_EQ(status, 0) << listing;
    EXPECT_THAT(listing, HasSubstr("bilgi.txt\t"));
    EXPECT_THAT(listing, HasSubstr("ERRORLOG\t"));
    EXPECT_THAT(listing, HasSubstr("\nOK\n"));
    EXPECT_NE(writeSupportBundle(*platform_, &window, "C:\\Missing\\destek.zip",
                                 std::chrono::system_clock::now()),
              "");
}

TEST(SupportBundle, WindowBundlePathCarriesTheLocalTime) {
    EXPECT_EQ(windowBundlePath(2024, 5, 12, 14, 5, 9), "C:\\Kelvora_Destek_20240512_140509.zip");
}

} // namespace
} // namespace kv::console::testing
