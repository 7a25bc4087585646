#include "console/support_bundle.h"

#include "console/database_names.h"
#include "console/log_file.h"
#include "console/preflight.h"
#include "console/repair_statements.h"
#include "console/zip_writer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace kv::console {

namespace {

using platform::RegistryRoot;

constexpr std::size_t ErrorLogTail = 4u << 20;
constexpr const char* Newline = "\r\n";

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool matchesAt(std::string_view text, std::size_t at, std::string_view word) {
    if (at + word.size() > text.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower(text[at + i]) != lower(word[i]))
            return false;
    return true;
}

// "2024-05-12 14:05:09 UTC".
std::string utcText(std::chrono::system_clock::time_point when) {
    const auto days = std::chrono::floor<std::chrono::days>(when);
    const std::chrono::year_month_day date{days};
    const std::chrono::hh_mm_ss time{std::chrono::floor<std::chrono::seconds>(when - days)};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02ld:%02ld:%02ld UTC",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<long>(time.hours().count()),
                  static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
    return text;
}

std::string bytesText(std::uint64_t bytes) {
    return sizeText(bytes, false) + " (" + std::to_string(bytes) + " bayt)";
}

std::string serviceText(platform::ServiceManager& services) {
    auto manager = services.openManager("", platform::ServiceAccess::ManagerConnect);
    if (!manager)
        return "okunamadı (" + manager.error().message + ")";
    std::string text;
    auto service =
        services.openService(*manager, DatabaseServiceName, platform::ServiceAccess::QueryStatus);
    if (!service) {
        text = service.code() == platform::win::ServiceDoesNotExist
                   ? "kurulu değil"
                   : "okunamadı (" + service.error().message + ")";
    } else {
        auto status = services.queryStatus(*service);
        if (!status) {
            text = "okunamadı (" + status.error().message + ")";
        } else {
            switch (status->currentState) {
            case platform::ServiceState::Running:
                text = "çalışıyor";
                break;
            case platform::ServiceState::Stopped:
                text = "durdu";
                break;
            case platform::ServiceState::StartPending:
                text = "başlıyor";
                break;
            case platform::ServiceState::StopPending:
                text = "duruyor";
                break;
            default:
                text = "durum " + std::to_string(status->currentState);
                break;
            }
        }
        (void)services.close(*service);
    }
    (void)services.close(*manager);
    return text;
}

std::optional<std::string> registryString(platform::Registry& registry, const std::string& key,
                                          const char* value) {
    auto opened = registry.openKey(RegistryRoot::LocalMachine, key);
    if (!opened)
        return std::nullopt;
    auto read = (*opened)->readString(value);
    if (!read)
        return std::nullopt;
    return *read;
}

// Where setup recorded the default instance: its version and its startup parameters' key.
struct InstanceSetup {
    std::string version;
    std::string parametersKey;
};

std::optional<InstanceSetup> instanceSetup(platform::Registry& registry) {
    for (const std::string root : {"SOFTWARE\\", "SOFTWARE\\Wow6432Node\\"}) {
        // SQL Server 2005 and later: the instance's own key, named under "Instance Names".
        if (auto instance = registryString(
                registry, root + "Microsoft\\Microsoft SQL Server\\Instance Names\\SQL",
                "MSSQLSERVER")) {
            const std::string key =
                root + "Microsoft\\Microsoft SQL Server\\" + *instance + "\\MSSQLServer";
            if (auto version = registryString(registry, key + "\\CurrentVersion", "CurrentVersion"))
                return InstanceSetup{*version, key + "\\Parameters"};
        }
        // SQL Server 2000.
        const std::string key = root + "Microsoft\\MSSQLServer\\MSSQLServer";
        if (auto version = registryString(registry, key + "\\CurrentVersion", "CurrentVersion"))
            return InstanceSetup{*version, key + "\\Parameters"};
    }
    return std::nullopt;
}

// The ERRORLOG's path: the -e startup parameter, then where setup puts it by default.
std::vector<std::string> errorLogCandidates(platform::Registry& registry,
                                            const std::optional<InstanceSetup>& setup) {
    std::vector<std::string> paths;
    if (setup)
        for (int i = 0; i < 10; ++i)
            if (auto argument = registryString(registry, setup->parametersKey,
                                               ("SQLArg" + std::to_string(i)).c_str());
                argument && argument->size() > 2 && matchesAt(*argument, 0, "-e"))
                paths.push_back(argument->substr(2));
    for (const char* folder : {"C:\\Program Files\\Microsoft SQL Server\\",
                               "C:\\Program Files (x86)\\Microsoft SQL Server\\"})
        for (const char* instance : {"MSSQL", "MSSQL.1\\MSSQL", "MSSQL10.MSSQLSERVER\\MSSQL",
                                     "MSSQL10_50.MSSQLSERVER\\MSSQL"})
            paths.push_back(std::string(folder) + instance + "\\LOG\\ERRORLOG");
    return paths;
}

std::string fileLine(platform::FileSystem& files, const std::string& path) {
    auto info = files.fileInfo(path);
    if (!info) {
        if (info.code() == platform::win::FileNotFound ||
            info.code() == platform::win::PathNotFound)
            return path + ": yok";
        return path + ": okunamadı (" + info.error().message + ")";
    }
    std::string line = path + ": ";
    if (info->folder)
        return line + "klasör";
    line += bytesText(info->size) + ", son yazma " + utcText(info->lastWrite);
    if (info->readOnly)
        line += ", salt okunur";
    if (auto holders = files.fileHolders(path); holders && !holders->empty()) {
        line += ", açık tutan:";
        for (const auto& holder : *holders) {
            line += " " + (holder.program.empty() ? std::string("?") : holder.program);
            line += " (işlem " + std::to_string(holder.pid);
            if (!holder.service.empty())
                line += ", servis " + holder.service;
            line += ")";
        }
    }
    return line;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + Newline;
    return text;
}

// The last check of the saved log (UTF-8 lines): from the line of hyphens before the last
// "Data Onarma işlemine başlanıldı." to the end.
std::vector<std::string> lastCheckInLog(const std::vector<std::string>& lines) {
    static const std::string Start = "Data Onarma işlemine başlanıldı.";
    for (std::size_t i = lines.size(); i-- > 0;) {
        if (lines[i].size() >= Start.size() &&
            lines[i].compare(lines[i].size() - Start.size(), Start.size(), Start) == 0) {
            const std::size_t from = i > 0 && lines[i - 1].ends_with("--------") ? i - 1 : i;
            return {lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end()};
        }
    }
    return {};
}

std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string line(text.substr(at, end - at));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        at = end + 1;
    }
    return lines;
}

// Replaces the `count` quoted texts after `at` with '***'.
std::size_t redactQuoted(std::string& text, std::size_t at, int count) {
    for (int k = 0; k < count; ++k) {
        const std::size_t open = text.find('\'', at);
        if (open == std::string::npos || text.find_first_of("\r\n", at) < open)
            return at;
        const std::size_t close = text.find('\'', open + 1);
        if (close == std::string::npos)
            return at;
        text.replace(open + 1, close - open - 1, "***");
        at = open + 5;
    }
    return at;
}

} // namespace

std::string redactSecrets(std::string_view input) {
    std::string text(input);
    // Statements that carry passwords: sp_addlogin 'login','password',... and
    // sp_password 'old','new'.
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (matchesAt(text, at, "sp_addlogin")) {
            // The login's name stays; its password goes.
            const std::size_t first = text.find('\'', at);
            const std::size_t end = first == std::string::npos ? first : text.find('\'', first + 1);
            if (end != std::string::npos)
                at = redactQuoted(text, end + 1, 1);
        } else if (matchesAt(text, at, "sp_password")) {
            at = redactQuoted(text, at, 2);
        } else if (matchesAt(text, at, "password=") || matchesAt(text, at, "pwd=")) {
            const std::size_t value = text.find('=', at) + 1;
            std::size_t end = value;
            while (end < text.size() && text[end] != ';' && text[end] != '\'' && text[end] != '"' &&
                   text[end] != '\r' && text[end] != '\n')
                ++end;
            text.replace(value, end - value, "***");
            at = value + 2;
        }
    }
    // The product login's password wherever it stands alone.
    const std::string_view secret = ProductLoginPassword;
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + 1)) {
        const bool digitBefore = at > 0 && std::isdigit(static_cast<unsigned char>(text[at - 1]));
        const std::size_t after = at + secret.size();
        const bool digitAfter =
            after < text.size() && std::isdigit(static_cast<unsigned char>(text[after]));
        if (!digitBefore && !digitAfter)
            text.replace(at, secret.size(), "***");
    }
    return text;
}

std::string windowBundlePath(int year, int month, int day, int hour, int minute, int second) {
    char text[96];
    std::snprintf(text, sizeof text, "C:\\Kelvora_Destek_%04d%02d%02d_%02d%02d%02d.zip", year,
                  month, day, hour, minute, second);
    return text;
}

std::vector<BundleFile> gatherSupportBundle(platform::Platform& platform, const WindowFacts* window,
                                            std::chrono::system_clock::time_point now) {
    auto& files = platform.files();
    std::vector<std::string> facts;
    facts.push_back("Kelvora destek paketi");
    facts.push_back("Oluşturuldu: " + utcText(now));
    facts.push_back(std::string("Program: kelvora-console ") + KELVORA_VERSION);
    facts.push_back(std::string("Nereden: ") +
                    (window ? "pencere (Ctrl+Shift+D)" : "komut satırı"));
    facts.push_back("Bilgisayar adı: " + platform.computerName());
    facts.push_back("Kod sayfası: " + std::to_string(platform.codePage().number()));
    facts.push_back(std::string("Servis ") + DatabaseServiceName + ": " +
                    serviceText(platform.services()));
    if (window && !window->serverVersion.empty())
        facts.push_back("Sunucu sürümü (bağlantı): " + window->serverVersion);
    const auto setup = instanceSetup(platform.registry());
    facts.push_back("Sunucu sürümü (kayıt defteri): " +
                    (setup ? setup->version : std::string("bulunamadı")));

    std::vector<BundleFile> bundle;
    std::string errorLogLine = "ERRORLOG: okunamadı";
    for (const auto& path : errorLogCandidates(platform.registry(), setup)) {
        auto text = files.readFile(path);
        if (!text)
            continue;
        std::string data = std::move(*text);
        errorLogLine = "ERRORLOG: " + path + ", " + bytesText(data.size());
        if (data.size() > ErrorLogTail) {
            data.erase(0, data.size() - ErrorLogTail);
            errorLogLine += ", son " + sizeText(ErrorLogTail, false) + " alındı";
        }
        bundle.push_back({"ERRORLOG", redactSecrets(data)});
        break;
    }
    facts.push_back(errorLogLine);

    for (const char* folder : {"C:\\", "C:\\Kelvora\\Data"}) {
        auto free = files.freeSpace(folder);
        facts.push_back(std::string("Boş yer ") + folder + ": " +
                        (free ? bytesText(*free) : "okunamadı (" + free.error().message + ")"));
    }
    facts.push_back("");
    facts.push_back("Dosyalar:");
    for (const char* path :
         {repair::ProductDataRenamePath, repair::ProductLogPath, repair::ScratchDataPath,
          repair::ScratchLogLeftover, "C:\\Halvetor.Log"})
        facts.push_back(fileLine(files, path));
    if (window) {
        facts.push_back("");
        facts.push_back("Pencerede görünen:");
        for (const auto& line : window->shownFacts)
            facts.push_back(line);
    }
    bundle.insert(bundle.begin(), {"bilgi.txt", redactSecrets(joined(facts))});

    // The saved log as it is, and its last check from the command line.
    std::vector<std::string> savedLines;
    if (auto saved = files.readFile(std::string(LogFilePathOnDisk))) {
        bundle.push_back({"Halvetor.Log", redactSecrets(*saved)});
        savedLines = splitLines(platform.codePage().toUtf8(*saved));
    }
    if (window)
        bundle.push_back({"ekran-gunlugu.txt", redactSecrets(joined(window->logLines))});

    std::vector<std::string> check;
    if (window && window->lastCheck) {
        const auto& last = *window->lastCheck;
        check.push_back("Son kontrol: " + last.when);
        check.push_back(std::string("Sonuç: ") + (last.clean ? "hata yok" : "hata bulundu"));
        for (const auto& error : last.errors)
            check.push_back("Msg " + std::to_string(error.number) + ": " + error.text);
        if (!last.traceText.empty())
            check.push_back("İzleme metni: " + last.traceText);
    } else {
        check = lastCheckInLog(window ? window->logLines : savedLines);
        if (check.empty())
            check.push_back("Kayıtlı günlükte bir kontrol yok.");
    }
    bundle.push_back({"son-kontrol.txt", redactSecrets(joined(check))});
    return bundle;
}

std::string writeSupportBundle(platform::Platform& platform, const WindowFacts* window,
                               std::string_view path, std::chrono::system_clock::time_point now) {
    const auto files = gatherSupportBundle(platform, window, now);
    std::vector<ZipEntry> entries;
    for (const auto& file : files)
        entries.push_back({file.name, file.data});
    std::string error;
    const auto zip = makeZip(entries, now, error);
    if (!zip)
        return error;
    auto written = platform.files().writeFile(path, *zip);
    if (!written)
        return written.error().message;
    return {};
}

} // namespace kv::console
