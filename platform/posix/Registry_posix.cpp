// The registry of the simulated host: one text file per root (registry/HKEY_*.reg, format in
// README.md). Every operation reads the file afresh, so changes made by simhost or another
// program show at once; every change rewrites the whole file through a temporary file and a
// rename, under an exclusive lock on registry/.lock.

#include "platform/Diagnostics.h"
#include "platform/posix/HostFiles.h"
#include "platform/posix/HostPath.h"
#include "platform/posix/SimBackends.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kv::platform::sim {

namespace fs = std::filesystem;
using namespace detail;

namespace {

struct Value {
    std::string name;
    std::uint32_t type = RegType::String;
    std::string data; // text for the string types, 4 little-endian bytes for DWORD, raw otherwise
};

struct Key {
    std::string path; // "SOFTWARE\Quorix\Nuvo", without leading or trailing backslash
    std::vector<Value> values;
};

struct Hive {
    std::vector<Key> keys;

    Key* find(std::string_view path) {
        const auto wanted = foldName(path);
        for (auto& key : keys)
            if (foldName(key.path) == wanted)
                return &key;
        return nullptr;
    }
};

// "\SOFTWARE\\Quorix\" -> "SOFTWARE\Quorix"; nullopt for names Windows refuses.
std::optional<std::string> normalizeKeyPath(std::string_view path) {
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = std::min(path.find('\\', start), path.size());
        const auto part = path.substr(start, end - start);
        if (!part.empty()) {
            if (part.size() > 255 || part.find_first_of("\r\n\0[]", 0, 5) != std::string_view::npos)
                return std::nullopt;
            if (!out.empty())
                out += '\\';
            out += part;
        }
        start = end + 1;
    }
    return out;
}

std::string quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

// Reads a quoted string starting at text[pos] == '"'; pos ends after the closing quote.
std::optional<std::string> unquote(std::string_view text, std::size_t& pos) {
    if (pos >= text.size() || text[pos] != '"')
        return std::nullopt;
    std::string out;
    for (++pos; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\') {
            if (++pos >= text.size())
                return std::nullopt;
            switch (text[pos]) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case '\\':
            case '"':
                out += text[pos];
                break;
            default:
                return std::nullopt;
            }
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

std::string serializeValue(const Value& value) {
    std::string out = value.name.empty() ? "@" : quote(value.name);
    out += '=';
    if (value.type == RegType::String) {
        out += quote(value.data);
    } else if (value.type == RegType::ExpandString) {
        out += "expand:" + quote(value.data);
    } else if (value.type == RegType::DWord && value.data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number =
                (number << 8) | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
        char hex[16];
        std::snprintf(hex, sizeof hex, "dword:%08x", number);
        out += hex;
    } else {
        char head[24];
        std::snprintf(head, sizeof head, "hex(%x):", value.type);
        out += head;
        for (std::size_t i = 0; i < value.data.size(); ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, "%s%02x", i ? "," : "",
                          static_cast<unsigned char>(value.data[i]));
            out += byte;
        }
    }
    return out;
}

std::optional<Value> parseValue(std::string_view line) {
    Value value;
    std::size_t pos = 0;
    if (line.starts_with("@")) {
        pos = 1;
    } else {
        auto name = unquote(line, pos);
        if (!name)
            return std::nullopt;
        value.name = std::move(*name);
    }
    auto rest = trim(line.substr(pos));
    if (!rest.starts_with("="))
        return std::nullopt;
    rest = trim(rest.substr(1));
    std::size_t at = 0;
    if (rest.starts_with("\"")) {
        auto text = unquote(rest, at);
        if (!text || !trim(rest.substr(at)).empty())
            return std::nullopt;
        value.type = RegType::String;
        value.data = std::move(*text);
    } else if (rest.starts_with("expand:")) {
        rest.remove_prefix(7);
        auto text = unquote(rest, at);
        if (!text || !trim(rest.substr(at)).empty())
            return std::nullopt;
        value.type = RegType::ExpandString;
        value.data = std::move(*text);
    } else if (rest.starts_with("dword:")) {
        rest.remove_prefix(6);
        if (rest.size() != 8)
            return std::nullopt;
        const auto number = parseNumber("0x" + std::string(rest));
        if (!number)
            return std::nullopt;
        value.type = RegType::DWord;
        for (int i = 0; i < 4; ++i)
            value.data += static_cast<char>((*number >> (8 * i)) & 0xff);
    } else if (rest.starts_with("hex")) {
        rest.remove_prefix(3);
        value.type = RegType::Binary;
        if (rest.starts_with("(")) {
            const auto close = rest.find(')');
            if (close == std::string_view::npos)
                return std::nullopt;
            const auto type = parseNumber("0x" + std::string(rest.substr(1, close - 1)));
            if (!type)
                return std::nullopt;
            value.type = *type;
            rest.remove_prefix(close + 1);
        }
        if (!rest.starts_with(":"))
            return std::nullopt;
        rest.remove_prefix(1);
        while (!rest.empty()) {
            const auto comma = rest.find(',');
            const auto byte = parseNumber("0x" + std::string(trim(rest.substr(0, comma))));
            if (!byte || *byte > 0xff)
                return std::nullopt;
            value.data += static_cast<char>(*byte);
            rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        }
    } else {
        return std::nullopt;
    }
    return value;
}

Hive parseHive(std::string_view text, const fs::path& file) {
    Hive hive;
    Key* current = nullptr;
    bool inBrokenSection = false;
    int number = 0;
    const auto corrupt = [&](std::string_view why, std::string_view line) {
        reportDiagnostic(file.string() + ":" + std::to_string(number) + ": corrupt registry " +
                         std::string(why) + ": " + std::string(line));
    };
    while (!text.empty()) {
        const auto end = text.find('\n');
        const auto line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        ++number;
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            const auto path = line.back() == ']' ? normalizeKeyPath(line.substr(1, line.size() - 2))
                                                 : std::nullopt;
            if (!path) {
                corrupt("key header", line);
                current = nullptr;
                inBrokenSection = true;
                continue;
            }
            inBrokenSection = false;
            current = hive.find(*path);
            if (!current) {
                hive.keys.push_back(Key{*path, {}});
                current = &hive.keys.back();
            }
            continue;
        }
        auto value = parseValue(line);
        if (!value) {
            corrupt("value", line);
            continue;
        }
        if (!current) {
            if (!inBrokenSection)
                corrupt("value outside a key", line);
            continue;
        }
        const auto wanted = foldName(value->name);
        const auto existing =
            std::find_if(current->values.begin(), current->values.end(),
                         [&](const Value& v) { return foldName(v.name) == wanted; });
        if (existing != current->values.end())
            *existing = std::move(*value);
        else
            current->values.push_back(std::move(*value));
    }
    return hive;
}

std::string serializeHive(const Hive& hive, std::string_view rootName) {
    std::string out = "; Kelvora simulated registry: " + std::string(rootName) + "\n";
    for (const auto& key : hive.keys) {
        if (key.path.empty() && key.values.empty())
            continue;
        out += "\n[" + key.path + "]\n";
        for (const auto& value : key.values)
            out += serializeValue(value) + "\n";
    }
    return out;
}

const char* rootName(RegistryRoot root) {
    return root == RegistryRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

class HiveLock {
public:
    HiveLock(const fs::path& folder, bool exclusive) {
        fd_ = ::open((folder / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0)
            while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
            }
    }
    ~HiveLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    HiveLock(const HiveLock&) = delete;
    HiveLock& operator=(const HiveLock&) = delete;

private:
    int fd_ = -1;
};

// One root file: load, change, store.
class HiveFile {
public:
    HiveFile(const SimHost& host, RegistryRoot root)
        : file_(host.registryFile(root)), root_(root) {}

    Result<Hive> load() const {
        auto text = readWholeFile(file_);
        Hive hive;
        if (text)
            hive = parseHive(*text, file_);
        else if (text.code() != win::FileNotFound) // a missing file is an empty root
            return text.error();
        if (!hive.find(""))
            hive.keys.insert(hive.keys.begin(), Key{"", {}}); // the root key itself
        return hive;
    }
    Result<void> store(const Hive& hive) const {
        return writeFileAtomically(file_, serializeHive(hive, rootName(root_)));
    }
    fs::path folder() const { return file_.parent_path(); }

private:
    fs::path file_;
    RegistryRoot root_;
};

Error keyGone(const std::string& path) {
    return Error{win::FileNotFound, "the registry key " + path + " no longer exists"};
}

class SimRegistryKey final : public RegistryKey {
public:
    SimRegistryKey(HiveFile hive, std::string path, bool writable)
        : hive_(std::move(hive)), path_(std::move(path)), writable_(writable) {}

    Result<std::uint32_t> valueType(std::string_view name) override {
        auto value = find(name);
        if (!value)
            return value.error();
        return value->type;
    }

    Result<std::string> readString(std::string_view name) override {
        auto value = find(name);
        if (!value)
            return value.error();
        if (value->type != RegType::String && value->type != RegType::ExpandString)
            return Error{win::UnsupportedType, "Invalid data type for '" + std::string(name) + "'"};
        return std::move(value->data);
    }

    Result<std::uint32_t> readInteger(std::string_view name) override {
        auto value = find(name);
        if (!value)
            return value.error();
        if (value->type != RegType::DWord || value->data.size() != 4)
            return Error{win::UnsupportedType, "Invalid data type for '" + std::string(name) + "'"};
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) |
                     static_cast<unsigned char>(value->data[static_cast<std::size_t>(i)]);
        return number;
    }

    Result<std::vector<std::string>> valueNames() override {
        HiveLock lock(hive_.folder(), false);
        auto hive = hive_.load();
        if (!hive)
            return hive.error();
        const Key* key = hive->find(path_);
        if (!key)
            return keyGone(path_);
        std::vector<std::string> names;
        for (const auto& value : key->values)
            names.push_back(value.name);
        return names;
    }

    Result<void> writeString(std::string_view name, std::string_view value,
                             bool expandable) override {
        return change(Value{std::string(name), expandable ? RegType::ExpandString : RegType::String,
                            std::string(value)});
    }

    Result<void> writeInteger(std::string_view name, std::uint32_t value) override {
        std::string data;
        for (int i = 0; i < 4; ++i)
            data += static_cast<char>((value >> (8 * i)) & 0xff);
        return change(Value{std::string(name), RegType::DWord, std::move(data)});
    }

    Result<void> deleteValue(std::string_view name) override {
        if (!writable_)
            return Error{win::AccessDenied, "the key " + path_ + " was opened for reading"};
        HiveLock lock(hive_.folder(), true);
        auto hive = hive_.load();
        if (!hive)
            return hive.error();
        Key* key = hive->find(path_);
        if (!key)
            return keyGone(path_);
        const auto wanted = foldName(name);
        const auto it = std::find_if(key->values.begin(), key->values.end(),
                                     [&](const Value& v) { return foldName(v.name) == wanted; });
        if (it == key->values.end())
            return Error{win::FileNotFound, "no value " + std::string(name) + " in " + path_};
        key->values.erase(it);
        return hive_.store(*hive);
    }

private:
    Result<Value> find(std::string_view name) {
        HiveLock lock(hive_.folder(), false);
        auto hive = hive_.load();
        if (!hive)
            return hive.error();
        const Key* key = hive->find(path_);
        if (!key)
            return keyGone(path_);
        const auto wanted = foldName(name);
        for (const auto& value : key->values)
            if (foldName(value.name) == wanted)
                return value;
        return Error{win::FileNotFound, "no value " + std::string(name) + " in " + path_};
    }

    Result<void> change(Value value) {
        if (!writable_)
            return Error{win::AccessDenied, "the key " + path_ + " was opened for reading"};
        if (value.name.find_first_of("\r\n") != std::string::npos)
            return Error{win::InvalidParameter, "invalid value name"};
        HiveLock lock(hive_.folder(), true);
        auto hive = hive_.load();
        if (!hive)
            return hive.error();
        Key* key = hive->find(path_);
        if (!key)
            return keyGone(path_);
        const auto wanted = foldName(value.name);
        const auto it = std::find_if(key->values.begin(), key->values.end(),
                                     [&](const Value& v) { return foldName(v.name) == wanted; });
        if (it != key->values.end()) {
            value.name = it->name; // the name keeps the case it was created with
            *it = std::move(value);
        } else {
            key->values.push_back(std::move(value));
        }
        return hive_.store(*hive);
    }

    HiveFile hive_;
    std::string path_;
    bool writable_;
};

} // namespace

std::string rewriteRegistryFile(std::string_view text, const fs::path& file, RegistryRoot root) {
    return serializeHive(parseHive(text, file), rootName(root));
}

Result<std::unique_ptr<RegistryKey>> SimRegistry::openKey(RegistryRoot root,
                                                          std::string_view path) {
    const auto normalized = normalizeKeyPath(path);
    if (!normalized)
        return Error{win::FileNotFound, "invalid registry key name " + std::string(path)};
    HiveFile file(host_, root);
    HiveLock lock(file.folder(), false);
    auto hive = file.load();
    if (!hive)
        return hive.error();
    const Key* key = hive->find(*normalized);
    if (!key)
        return Error{win::FileNotFound,
                     "no registry key " + std::string(rootName(root)) + "\\" + *normalized};
    return std::unique_ptr<RegistryKey>(
        std::make_unique<SimRegistryKey>(file, key ? key->path : *normalized, false));
}

Result<std::unique_ptr<RegistryKey>> SimRegistry::createKey(RegistryRoot root,
                                                            std::string_view path) {
    const auto normalized = normalizeKeyPath(path);
    if (!normalized)
        return Error{win::InvalidParameter, "invalid registry key name " + std::string(path)};
    HiveFile file(host_, root);
    HiveLock lock(file.folder(), true);
    auto hive = file.load();
    if (!hive)
        return hive.error();
    // The key and every missing parent become sections of their own; existing ones keep the
    // letter case they were created with.
    bool changed = false;
    std::string actual;
    std::string_view rest = *normalized;
    while (!rest.empty()) {
        const auto sep = rest.find('\\');
        const auto candidate = actual.empty() ? std::string(rest.substr(0, sep))
                                              : actual + "\\" + std::string(rest.substr(0, sep));
        rest = sep == std::string_view::npos ? std::string_view{} : rest.substr(sep + 1);
        if (const Key* existing = hive->find(candidate)) {
            actual = existing->path;
        } else {
            hive->keys.push_back(Key{candidate, {}});
            actual = candidate;
            changed = true;
        }
    }
    if (changed)
        if (auto stored = file.store(*hive); !stored)
            return stored.error();
    return std::unique_ptr<RegistryKey>(std::make_unique<SimRegistryKey>(file, actual, true));
}

} // namespace kv::platform::sim
