#pragma once
// The registry: two roots (current user, local machine), keys named by backslash paths, values
// of a type and data. Only what the program needs: read and write strings and DWORDs, list value
// names.
//
// Key paths may start with a backslash ("\SOFTWARE\Quorix\Nuvo\Connect"); key and value names
// are compared without regard to letter case and keep the case they were created with.
//
// Errors: a missing key or value is FileNotFound (2); a value of another type than the one read
// is UnsupportedType (1630), which the toolkit turns into its registry read error; a refused key
// is AccessDenied (5).

#include "platform/Result.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

enum class RegistryRoot { CurrentUser, LocalMachine };

// Value types (winnt.h REG_*).
namespace RegType {
inline constexpr std::uint32_t None = 0;
inline constexpr std::uint32_t String = 1;       // REG_SZ
inline constexpr std::uint32_t ExpandString = 2; // REG_EXPAND_SZ
inline constexpr std::uint32_t Binary = 3;       // REG_BINARY
inline constexpr std::uint32_t DWord = 4;        // REG_DWORD
inline constexpr std::uint32_t MultiString = 7;  // REG_MULTI_SZ
inline constexpr std::uint32_t QWord = 11;       // REG_QWORD
} // namespace RegType

// An open key (HKEY); closed when destroyed (RegCloseKey). Texts are the program's UTF-8.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;

    // The type of a value; FileNotFound if the key has no such value.
    virtual Result<std::uint32_t> valueType(std::string_view name) = 0;
    // A REG_SZ or REG_EXPAND_SZ value (environment references are not expanded); another type
    // fails with UnsupportedType. An empty value reads as "".
    virtual Result<std::string> readString(std::string_view name) = 0;
    // A REG_DWORD value; another type fails with UnsupportedType.
    virtual Result<std::uint32_t> readInteger(std::string_view name) = 0;
    // The names of all values, in no promised order: Windows enumerates values in an order of
    // its own (RegEnumValue), which need not be the order of creation. Callers sort.
    virtual Result<std::vector<std::string>> valueNames() = 0;

    // Writing needs a key opened with Registry::createKey; otherwise AccessDenied.
    virtual Result<void> writeString(std::string_view name, std::string_view value,
                                     bool expandable = false) = 0;
    virtual Result<void> writeInteger(std::string_view name, std::uint32_t value) = 0;
    virtual Result<void> deleteValue(std::string_view name) = 0;
};

class Registry {
public:
    virtual ~Registry() = default;

    // RegOpenKeyEx(KEY_READ): a missing key fails with FileNotFound and creates nothing.
    virtual Result<std::unique_ptr<RegistryKey>> openKey(RegistryRoot root,
                                                         std::string_view path) = 0;
    // RegCreateKeyEx(KEY_READ | KEY_WRITE): opens the key, creating it and any missing parents.
    virtual Result<std::unique_ptr<RegistryKey>> createKey(RegistryRoot root,
                                                           std::string_view path) = 0;
};

} // namespace kv::platform
