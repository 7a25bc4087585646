#pragma once
// The support bundle: one zip file with what technical support needs to understand a pharmacy's
// machine, written by `kelvora-console --support-bundle FILE.zip` (also when the server does not
// run, without a window) and by Ctrl+Shift+D in the window.
//
//   bilgi.txt          program and server versions, the computer, the MSSQLSERVER service,
//                      free space, the product and scratch files (size, last write, attributes,
//                      which programs hold them), and what the window shows (window only)
//   Halvetor.Log       the saved activity log, as the console wrote it
//   ekran-gunlugu.txt  the activity log as the window holds it now (window only)
//   son-kontrol.txt    the output of the last consistency check: the window's own record, or
//                      from the command line the last check's lines of the saved log
//   ERRORLOG           the server's error log (its last 4 MiB), when it can be read: the path in
//                      the server's startup parameters (-e) or setup's default
//
// No password goes in: the texts pass redactSecrets, and neither the registry's stored logins
// nor any database file is read. Data pages never go in.

#include "console/server_errors.h"
#include "platform/Platform.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::console {

// The window's record of its last consistency check of the product database.
struct CheckRecord {
    std::string when; // local time of the check
    bool clean = false;
    std::vector<ServerMessage> errors; // the server's errors
    std::string traceText;             // the monitor's text after it
};

// What only the window knows.
struct WindowFacts {
    std::vector<std::string> logLines;   // the activity log, UTF-8
    std::vector<std::string> shownFacts; // "what: value" lines of the window's panels
    std::string serverVersion;           // as the connection reported it
    std::optional<CheckRecord> lastCheck;
};

struct BundleFile {
    std::string name;
    std::string data;
};

// Everything the bundle holds, gathered through the platform. `window` is null from the
// command line. `now` is the bundle's time.
std::vector<BundleFile> gatherSupportBundle(platform::Platform& platform, const WindowFacts* window,
                                            std::chrono::system_clock::time_point now);

// Gathers, zips and writes the bundle to `path` (a path of the machine, written whole or not at
// all); an empty text on success, else the reason.
std::string writeSupportBundle(platform::Platform& platform, const WindowFacts* window,
                               std::string_view path, std::chrono::system_clock::time_point now);

// The text with every password it may carry replaced by "***": the product login's and the
// administrator's in the console's statements (sp_addlogin, sp_password), "Password=" and "PWD="
// in connection strings.
std::string redactSecrets(std::string_view text);

// The name the window gives its bundle: "C:\Kelvora_Destek_20240512_140509.zip" for that local
// time.
std::string windowBundlePath(int year, int month, int day, int hour, int minute, int second);

} // namespace kv::console
