#include "simulator/standin/RpcDeclarations.h"

#include "platform/Unicode.h"
#include "simulator/standin/Text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <optional>

namespace kv::standin::tds {

namespace {

bool isIntegerType(const std::string& t) {
    return t == "tinyint" || t == "smallint" || t == "int" || t == "bigint" || t == "bit";
}

bool isUnicodeType(const std::string& t) {
    return t == "nvarchar" || t == "nchar" || t == "ntext" || t == "sysname";
}

bool isTextType(const std::string& t) {
    return isUnicodeType(t) || t == "varchar" || t == "char" || t == "text";
}

bool isLobType(std::uint8_t wireType) {
    return wireType == 0x63 || wireType == 0x23 || wireType == 0x22; // ntext, text, image
}

std::string trim(const std::string& s) {
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
        --b;
    return s.substr(a, b - a);
}

// Splits at the commas outside parentheses.
std::vector<std::string> splitTopLevel(const std::string& list) {
    std::vector<std::string> parts;
    std::string current;
    int depth = 0;
    for (char c : list) {
        if (c == '(')
            ++depth;
        else if (c == ')' && depth > 0)
            --depth;
        if (c == ',' && depth == 0) {
            parts.push_back(current);
            current.clear();
            continue;
        }
        current.push_back(c);
    }
    parts.push_back(current);
    return parts;
}

std::optional<RpcDeclaration> parseOne(const std::string& entry) {
    const std::string e = trim(entry);
    if (e.size() < 2 || e[0] != '@')
        return std::nullopt;
    std::size_t i = 1;
    while (i < e.size() && !std::isspace(static_cast<unsigned char>(e[i])) && e[i] != '(')
        ++i;
    RpcDeclaration d;
    d.name = e.substr(0, i);
    std::string rest = trim(e.substr(i));
    if (rest.size() > 3 && keywordEquals(rest.substr(0, 2), "as") &&
        std::isspace(static_cast<unsigned char>(rest[2])))
        rest = trim(rest.substr(3));
    std::size_t j = 0;
    while (j < rest.size() && (std::isalnum(static_cast<unsigned char>(rest[j])) || rest[j] == '_'))
        ++j;
    if (j == 0)
        return std::nullopt;
    d.type = asciiLower(rest.substr(0, j));
    rest = trim(rest.substr(j));
    if (!rest.empty() && rest[0] == '(') {
        const std::size_t close = rest.find(')');
        if (close == std::string::npos)
            return std::nullopt;
        const std::string size = trim(rest.substr(1, close - 1));
        if (keywordEquals(size, "max")) {
            d.length = -1;
        } else {
            // "(p, s)" of decimal keeps only its precision; it does not matter here.
            d.length = std::atoi(size.c_str());
        }
        rest = trim(rest.substr(close + 1));
    }
    if (d.type == "sysname")
        d.length = 128;
    d.output = keywordEquals(rest, "output") || keywordEquals(rest, "out");
    return d;
}

// The declared type as TYPE_INFO, for an output parameter that arrived as a large type.
std::vector<std::uint8_t> declaredTypeInfo(const RpcDeclaration* d, std::uint8_t wireType,
                                           const std::vector<std::uint8_t>& collation) {
    auto sized = [&](std::uint8_t type, std::size_t bytes, bool collated) {
        std::vector<std::uint8_t> info{type, static_cast<std::uint8_t>(bytes & 0xFF),
                                       static_cast<std::uint8_t>(bytes >> 8)};
        if (collated)
            info.insert(info.end(), collation.begin(), collation.end());
        return info;
    };
    auto chars = [&](int declared, int fallback) {
        return static_cast<std::size_t>(declared > 0 ? std::min(declared, fallback) : fallback);
    };
    const std::string type = d ? d->type : "";
    const int length = d ? d->length : 0;
    if (type == "tinyint")
        return {0x26, 1};
    if (type == "smallint")
        return {0x26, 2};
    if (type == "int")
        return {0x26, 4};
    if (type == "bigint")
        return {0x26, 8};
    if (type == "bit")
        return {0x68, 1};
    if (type == "nchar")
        return sized(0xEF, 2 * chars(length, 4000), true);
    if (type == "nvarchar" || type == "sysname" || type == "ntext")
        return sized(0xE7, 2 * chars(length, 4000), true);
    if (type == "char")
        return sized(0xAF, chars(length, 8000), true);
    if (type == "varchar" || type == "text")
        return sized(0xA7, chars(length, 8000), true);
    if (type == "binary")
        return sized(0xAD, chars(length, 8000), false);
    if (type == "varbinary" || type == "image")
        return sized(0xA5, chars(length, 8000), false);
    // Undeclared: the largest non-large type of the same kind.
    if (wireType == 0x63)
        return sized(0xE7, 8000, true);
    if (wireType == 0x23)
        return sized(0xA7, 8000, true);
    return sized(0xA5, 8000, false);
}

void convertToDeclared(RpcParam& p, const RpcDeclaration& d) {
    if (isIntegerType(d.type)) {
        if (auto* s = std::get_if<std::string>(&p.value)) {
            const std::string t = trim(*s);
            char* end = nullptr;
            errno = 0;
            const long long v = std::strtoll(t.c_str(), &end, 10);
            if (!t.empty() && end && *end == '\0' && errno == 0) {
                p.value = static_cast<std::int64_t>(v);
                p.real.reset();
            }
        }
        return;
    }
    if (!isTextType(d.type))
        return;
    if (auto* i = std::get_if<std::int64_t>(&p.value))
        p.value = std::to_string(*i);
    if (auto* s = std::get_if<std::string>(&p.value); s && d.length > 0) {
        std::u16string u = platform::utf8ToUtf16(*s);
        if (u.size() > static_cast<std::size_t>(d.length)) {
            u.resize(static_cast<std::size_t>(d.length));
            std::vector<std::uint8_t> bytes;
            appendUtf16le(bytes, u);
            p.value = utf16leToUtf8(bytes.data(), bytes.size());
        }
    }
}

} // namespace

std::vector<RpcDeclaration> parseRpcDeclarations(const std::string& list) {
    std::vector<RpcDeclaration> out;
    for (const std::string& entry : splitTopLevel(list))
        if (auto d = parseOne(entry))
            out.push_back(std::move(*d));
    return out;
}

std::vector<std::string> unsuppliedParameters(const std::vector<RpcParam>& params) {
    std::vector<std::string> missing;
    if (params.empty())
        return missing;
    const auto* list = std::get_if<std::string>(&params.front().value);
    if (list == nullptr)
        return missing;
    for (const RpcDeclaration& d : parseRpcDeclarations(*list)) {
        bool supplied = false;
        for (std::size_t i = 1; i < params.size() && !supplied; ++i)
            supplied = keywordEquals(params[i].name, d.name);
        if (!supplied)
            missing.push_back(d.name);
    }
    return missing;
}

void applyRpcDeclarations(std::vector<RpcParam>& params,
                          const std::vector<std::uint8_t>& collation) {
    if (params.empty())
        return;
    const auto* list = std::get_if<std::string>(&params.front().value);
    const std::uint8_t listType = params.front().type;
    if (list == nullptr || !(listType == 0xE7 || listType == 0xEF || listType == 0x63 ||
                             listType == 0xA7 || listType == 0xAF || listType == 0x23))
        return;
    const std::vector<RpcDeclaration> declarations = parseRpcDeclarations(*list);
    for (std::size_t i = 1; i < params.size(); ++i) {
        RpcParam& p = params[i];
        if (p.name.empty() && i - 1 < declarations.size())
            p.name = declarations[i - 1].name;
        const RpcDeclaration* d = nullptr;
        for (const RpcDeclaration& candidate : declarations)
            if (!p.name.empty() && keywordEquals(candidate.name, p.name))
                d = &candidate;
        if (d) {
            p.declaredType = d->type;
            convertToDeclared(p, *d);
        }
        if (p.output && isLobType(p.type)) {
            // The collation the value came with, else the server's.
            std::vector<std::uint8_t> own = collation;
            if (p.type != 0x22 && p.typeInfo.size() >= 10)
                own.assign(p.typeInfo.begin() + 5, p.typeInfo.begin() + 10);
            p.typeInfo = declaredTypeInfo(d, p.type, own);
            p.type = p.typeInfo.front();
        }
    }
}

} // namespace kv::standin::tds
