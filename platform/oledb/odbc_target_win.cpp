// Where the ODBC transport connects on Windows. The console names its own machine: the
// computer's name or "(local)" (also ".", "localhost", "127.0.0.1", with "\MSSQLSERVER" for
// the default instance, "tcp:" in front, or ",port" behind). These lead to 127.0.0.1 and the TCP
// port the default instance listens on, which SQL Server keeps in the registry: SQL Server 2005
// and later under HKLM\SOFTWARE\Microsoft\Microsoft SQL Server\ID\MSSQLServer\SuperSocketNetLib
// \Tcp\IPAll (TcpPort, else TcpDynamicPorts), where ID is the value MSSQLSERVER
// of ...\Microsoft SQL Server\Instance Names\SQL; SQL Server 2000 under
//   HKLM\SOFTWARE\Microsoft\MSSQLServer\MSSQLServer\SuperSocketNetLib\Tcp, value TcpPort
// (a text such as "1433", or a number); 1433 where no value is there. Any other name is a
// server that does not exist here: no name look-up, no instance query, no broadcast.
//
// The ODBC driver: the names in the environment variable KELVORA_ODBC_DRIVER, else the value
// OdbcDriver (text) of HKLM\SOFTWARE\Kelvora, both lists separated by ';', else "FreeTDS" (the
// driver of the Linux machine under Wine, registered in its unixODBC) and then "SQL Server"
// (Microsoft's driver, part of every Windows). The first one that can be loaded is used.
#include "platform/Unicode.h"
#include "platform/oledb/odbc_link.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace kv::oledb::odbc {
namespace {

constexpr int kDefaultPort = 1433;

// A value of HKEY_LOCAL_MACHINE as text (REG_SZ) or decimal (REG_DWORD); nullopt when missing.
std::optional<std::string> machineValue(const wchar_t* path, const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    wchar_t text[512] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status =
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return std::nullopt;
    }
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD number = 0;
        std::memcpy(&number, text, sizeof number);
        return std::to_string(number);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return std::nullopt;
    }
    std::u16string units;
    for (DWORD i = 0; i < size / sizeof(wchar_t) && text[i]; ++i) {
        units.push_back(static_cast<char16_t>(text[i]));
    }
    return platform::utf16ToUtf8(units);
}

// "1433" (several ports may be listed with commas: the first one); 0 when none.
int portOf(const std::optional<std::string>& value) {
    if (!value) {
        return 0;
    }
    char* end = nullptr;
    const long port = std::strtol(value->c_str(), &end, 10);
    return end != value->c_str() && port >= 1 && port <= 65535 ? static_cast<int>(port) : 0;
}

// SQL Server 2005 and later keep the default instance's port under the instance's own key,
// which "Instance Names\SQL" names (MSSQL.1); a fixed port in TcpPort, else the dynamic one.
// SQL Server 2000 keeps it under MSSQLServer.
int sqlServerPort() {
    if (const auto instance = machineValue(
            L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL", L"MSSQLSERVER")) {
        const std::u16string id = platform::utf8ToUtf16(*instance);
        const std::wstring key = L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\" +
                                 std::wstring(id.begin(), id.end()) +
                                 L"\\MSSQLServer\\SuperSocketNetLib\\Tcp\\IPAll";
        for (const wchar_t* value : {L"TcpPort", L"TcpDynamicPorts"}) {
            if (const int port = portOf(machineValue(key.c_str(), value))) {
                return port;
            }
        }
    }
    if (const int port = portOf(
            machineValue(L"SOFTWARE\\Microsoft\\MSSQLServer\\MSSQLServer\\SuperSocketNetLib\\Tcp",
                         L"TcpPort"))) {
        return port;
    }
    return kDefaultPort;
}

std::string computerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) {
        return {};
    }
    return platform::utf16ToUtf8(std::u16string(name, name + size));
}

} // namespace

Target targetOf(std::string_view serverName) {
    const std::string computer = computerName();
    const int port = sqlServerPort();
    std::vector<FreeTdsServer> names = {{"(local)", "127.0.0.1", port, {}, {}}};
    if (!computer.empty()) {
        names.push_back({computer, "127.0.0.1", port, {}, {}});
    }
    const ServerNameResolver resolver(std::move(names), computer);
    Target t;
    if (auto endpoint = resolver.resolve(serverName)) {
        t.kind = Target::Kind::Endpoint;
        t.server = endpoint->address;
        t.port = endpoint->port;
    }
    return t;
}

std::vector<std::string> driverNames() {
    std::vector<std::string> names;
    if (const char* list = std::getenv("KELVORA_ODBC_DRIVER")) {
        names = splitDriverList(list);
    }
    if (names.empty()) {
        if (auto list = machineValue(L"SOFTWARE\\Kelvora", L"OdbcDriver")) {
            names = splitDriverList(*list);
        }
    }
    if (names.empty()) {
        names = {"FreeTDS", "SQL Server"};
    }
    return names;
}

std::string workstationName() {
    return computerName();
}

} // namespace kv::oledb::odbc
