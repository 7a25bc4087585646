#include "simulator/standin/RpcParams.h"

#include "platform/Unicode.h"
#include "simulator/standin/CodePage.h"
#include "simulator/standin/Tds.h"
#include "simulator/standin/Text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kv::standin::tds {

namespace {

std::uint64_t le(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// Length of the fixed-size types that carry no length of their own.
int fixedSize(std::uint8_t type) {
    switch (type) {
    case 0x30: // tinyint
    case 0x32: // bit
        return 1;
    case 0x34: // smallint
        return 2;
    case 0x38: // int
    case 0x3B: // real
    case 0x3A: // smalldatetime
    case 0x7A: // smallmoney
        return 4;
    case 0x7F: // bigint
    case 0x3E: // float
    case 0x3D: // datetime
    case 0x3C: // money
        return 8;
    default:
        return 0;
    }
}

bool isUnicode(std::uint8_t type) {
    return type == 0xE7 || type == 0xEF || type == 0x63;
}

bool isText(std::uint8_t type) {
    return isUnicode(type) || type == 0xA7 || type == 0xAF || type == 0x23;
}

// An integer or floating point value from `bytes` of type `type`.
void numberValue(RpcParam& p, std::uint8_t type, const std::uint8_t* data, std::size_t bytes) {
    const bool real = type == 0x6D || type == 0x3E || type == 0x3B;
    if (real) {
        double d = 0;
        if (bytes == 4) {
            float f = 0;
            std::memcpy(&f, data, 4);
            d = f;
        } else if (bytes == 8) {
            std::memcpy(&d, data, 8);
        }
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", d);
        p.real = d;
        p.value = std::string(text);
        return;
    }
    std::uint64_t raw = le(data, static_cast<int>(bytes));
    std::int64_t v = 0;
    if (bytes == 1)
        v = static_cast<std::uint8_t>(raw);
    else if (bytes == 2)
        v = static_cast<std::int16_t>(raw);
    else if (bytes == 4)
        v = static_cast<std::int32_t>(raw);
    else
        v = static_cast<std::int64_t>(raw);
    p.value = v;
}

// The code page of an 8-bit text parameter: its collation ends its TYPE_INFO.
int codePageOf(const RpcParam& p) {
    if (p.typeInfo.size() < 8)
        return 1252;
    return kv::standin::codePageOf(
        std::vector<std::uint8_t>(p.typeInfo.end() - 5, p.typeInfo.end()));
}

void bytesValue(RpcParam& p, std::uint8_t type, std::vector<std::uint8_t> bytes) {
    if (isUnicode(type))
        p.value = utf16leToUtf8(bytes.data(), bytes.size());
    else if (isText(type))
        p.value = codePageToUtf8(bytes.data(), bytes.size(), codePageOf(p));
    else
        p.value = Bytes(bytes.begin(), bytes.end());
}

// T-SQL literal of a parameter value.
std::string literalOf(const RpcParam& p) {
    if (std::holds_alternative<std::monostate>(p.value))
        return "NULL";
    if (auto* i = std::get_if<std::int64_t>(&p.value))
        return std::to_string(*i);
    if (auto* s = std::get_if<std::string>(&p.value)) {
        if (p.real) {
            // A float stays a float: with an exponent the constant is one ("0.5" is numeric).
            return s->find_first_of("eE") == std::string::npos ? *s + "E0" : *s;
        }
        std::string out = "N'";
        for (char c : *s) {
            out.push_back(c);
            if (c == '\'')
                out.push_back('\'');
        }
        return out + "'";
    }
    if (auto* b = std::get_if<Bytes>(&p.value)) {
        static const char digits[] = "0123456789ABCDEF";
        std::string out = "0x";
        for (std::uint8_t c : *b) {
            out.push_back(digits[c >> 4]);
            out.push_back(digits[c & 15]);
        }
        return out;
    }
    return "NULL";
}

RpcParam* findParam(std::vector<RpcParam>& params, std::string_view name) {
    for (RpcParam& p : params)
        if (!p.name.empty() && keywordEquals(p.name, name))
            return &p;
    return nullptr;
}

const RpcParam* findParam(const std::vector<RpcParam>& params, std::string_view name) {
    return findParam(const_cast<std::vector<RpcParam>&>(params), name);
}

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' ||
           c == '$' || static_cast<unsigned char>(c) >= 128;
}

} // namespace

std::optional<std::vector<RpcParam>> readRpcParams(const std::vector<std::uint8_t>& payload,
                                                   std::size_t pos, std::uint32_t tdsVersion,
                                                   std::string& error) {
    std::vector<RpcParam> params;
    const std::size_t size = payload.size();
    const std::uint8_t* p = payload.data();
    auto need = [&](std::size_t n) {
        if (pos + n > size) {
            error = "RPC parameter cut short at byte " + std::to_string(pos);
            return false;
        }
        return true;
    };
    while (pos < size) {
        RpcParam param;
        if (!need(1))
            return std::nullopt;
        const std::size_t nameUnits = p[pos++];
        if (!need(2 * nameUnits + 2))
            return std::nullopt;
        param.name = utf16leToUtf8(p + pos, 2 * nameUnits);
        pos += 2 * nameUnits;
        param.output = (p[pos++] & 0x01) != 0;
        const std::size_t typeStart = pos;
        const std::uint8_t type = p[pos++];
        param.type = type;
        if (const int fixed = fixedSize(type)) {
            param.typeInfo.assign(p + typeStart, p + pos);
            if (!need(static_cast<std::size_t>(fixed)))
                return std::nullopt;
            numberValue(param, type, p + pos, static_cast<std::size_t>(fixed));
            pos += static_cast<std::size_t>(fixed);
        } else if (type == 0x26 || type == 0x6D || type == 0x68 || type == 0x6F || type == 0x24 ||
                   type == 0x6E || type == 0x6A || type == 0x6C) {
            if (!need(1))
                return std::nullopt;
            pos += 1; // the maximal length
            if (type == 0x6A || type == 0x6C) {
                if (!need(2))
                    return std::nullopt;
                pos += 2; // precision and scale
            }
            param.typeInfo.assign(p + typeStart, p + pos);
            if (!need(1))
                return std::nullopt;
            const std::size_t length = p[pos++];
            if (!need(length))
                return std::nullopt;
            if (length > 0 && (type == 0x26 || type == 0x6D || type == 0x68))
                numberValue(param, type == 0x68 ? 0x26 : type, p + pos, length);
            else if (length > 0)
                param.value = Bytes(p + pos, p + pos + length);
            pos += length;
        } else if (type == 0xA7 || type == 0xAF || type == 0xE7 || type == 0xEF || type == 0xA5 ||
                   type == 0xAD) {
            const bool collated = type != 0xA5 && type != 0xAD;
            if (!need(2 + (collated ? 5 : 0)))
                return std::nullopt;
            const std::uint16_t maxLength = static_cast<std::uint16_t>(le(p + pos, 2));
            pos += 2 + (collated ? 5 : 0);
            param.typeInfo.assign(p + typeStart, p + pos);
            if (maxLength == 0xFFFF) {
                if (!need(8))
                    return std::nullopt;
                const std::uint64_t total = le(p + pos, 8);
                pos += 8;
                if (total != 0xFFFFFFFFFFFFFFFFull) {
                    std::vector<std::uint8_t> bytes;
                    for (;;) {
                        if (!need(4))
                            return std::nullopt;
                        const std::size_t chunk = static_cast<std::size_t>(le(p + pos, 4));
                        pos += 4;
                        if (chunk == 0)
                            break;
                        if (!need(chunk))
                            return std::nullopt;
                        bytes.insert(bytes.end(), p + pos, p + pos + chunk);
                        pos += chunk;
                    }
                    bytesValue(param, type, std::move(bytes));
                }
            } else {
                if (!need(2))
                    return std::nullopt;
                const std::size_t length = static_cast<std::size_t>(le(p + pos, 2));
                pos += 2;
                if (length != 0xFFFF) {
                    if (!need(length))
                        return std::nullopt;
                    bytesValue(param, type, std::vector<std::uint8_t>(p + pos, p + pos + length));
                    pos += length;
                }
            }
        } else if (type == 0x23 || type == 0x63 || type == 0x22) {
            const bool collated = type != 0x22;
            if (!need(4 + (collated ? 5 : 0)))
                return std::nullopt;
            pos += 4 + (collated ? 5 : 0);
            param.typeInfo.assign(p + typeStart, p + pos);
            if (!need(4))
                return std::nullopt;
            const std::uint32_t length = static_cast<std::uint32_t>(le(p + pos, 4));
            pos += 4;
            if (length != 0xFFFFFFFFu) {
                if (!need(length))
                    return std::nullopt;
                bytesValue(param, type, std::vector<std::uint8_t>(p + pos, p + pos + length));
                pos += length;
            }
        } else {
            error = "RPC parameter " + param.name + " of type " + std::to_string(type);
            return std::nullopt;
        }
        (void)tdsVersion;
        params.push_back(std::move(param));
    }
    return params;
}

const RpcParam* comparedLongParameter(const std::string& statement,
                                      const std::vector<RpcParam>& params) {
    const std::size_t n = statement.size();
    auto significant = [&](std::size_t at, int step) -> char {
        for (std::size_t k = at; k < n; k += static_cast<std::size_t>(step))
            if (!std::isspace(static_cast<unsigned char>(statement[k])))
                return statement[k];
        return '\0';
    };
    bool inWhere = false;
    for (std::size_t i = 0; i < n;) {
        const char c = statement[i];
        if (c == '\'' || c == '"' || c == '[') {
            const char close = c == '[' ? ']' : c;
            std::size_t j = i + 1;
            while (j < n && !(statement[j] == close && (j + 1 >= n || statement[j + 1] != close)))
                j += statement[j] == close ? 2 : 1;
            i = j + 1;
            continue;
        }
        if (c == '@' && !(i + 1 < n && statement[i + 1] == '@')) {
            std::size_t j = i + 1;
            while (j < n && isNameChar(statement[j]))
                ++j;
            const RpcParam* p = findParam(params, statement.substr(i, j - i));
            const bool isLong =
                p != nullptr && (p->declaredType == "ntext" || p->declaredType == "text" ||
                                 p->declaredType == "image");
            const char before = i > 0 ? significant(i - 1, -1) : '\0';
            const char after = significant(j, 1);
            auto comparison = [](char ch) { return ch == '=' || ch == '<' || ch == '>'; };
            if (isLong && inWhere && (comparison(before) || comparison(after) || after == '!'))
                return p;
            i = j;
            continue;
        }
        if (std::isalpha(static_cast<unsigned char>(c))) {
            std::size_t j = i;
            while (j < n && isNameChar(statement[j]))
                ++j;
            std::string word = statement.substr(i, j - i);
            for (char& ch : word)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            if (word == "WHERE")
                inWhere = true;
            else if (word == "SELECT" || word == "SET" || word == "UPDATE" || word == "ORDER" ||
                     word == "GROUP" || word == "INSERT" || word == "DELETE" || word == "EXEC")
                inWhere = false;
            i = j;
            continue;
        }
        ++i;
    }
    return nullptr;
}

std::string bindRpcParams(const std::string& statement, const std::vector<RpcParam>& params) {
    // Pass 1: the text with every reference that is no assignment target replaced; the
    // assignment targets become column names ("SET @P1 = 1" -> "SELECT [@P1] = 1").
    std::string out;
    std::size_t i = 0;
    const std::size_t n = statement.size();
    // Where the last word started in `out`, and what it was (upper case), ignoring blanks.
    std::string lastWord;
    std::size_t lastWordAt = 0;
    bool afterAssignmentList = false; // inside "SELECT @a = ..., " where "," may precede one
    while (i < n) {
        const char c = statement[i];
        if (c == '\'' || c == '"' || c == '[') {
            const char close = c == '[' ? ']' : c;
            std::size_t j = i + 1;
            while (j < n) {
                if (statement[j] == close) {
                    if (j + 1 < n && statement[j + 1] == close) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            j = std::min(n, j + 1);
            out.append(statement, i, j - i);
            i = j;
            lastWord.clear();
            continue;
        }
        if (c == '-' && i + 1 < n && statement[i + 1] == '-') {
            std::size_t j = statement.find('\n', i);
            j = j == std::string::npos ? n : j;
            out.append(statement, i, j - i);
            i = j;
            continue;
        }
        if (c == '/' && i + 1 < n && statement[i + 1] == '*') {
            std::size_t j = statement.find("*/", i + 2);
            j = j == std::string::npos ? n : j + 2;
            out.append(statement, i, j - i);
            i = j;
            continue;
        }
        if (c == '@' && !(i + 1 < n && statement[i + 1] == '@')) {
            std::size_t j = i + 1;
            while (j < n && isNameChar(statement[j]))
                ++j;
            const std::string name = statement.substr(i, j - i);
            std::size_t k = j;
            while (k < n && std::isspace(static_cast<unsigned char>(statement[k])))
                ++k;
            const bool assigned = k < n && statement[k] == '=' &&
                                  !(k + 1 < n && statement[k + 1] == '=') &&
                                  (lastWord == "SET" || lastWord == "SELECT" ||
                                   (lastWord == "," && afterAssignmentList));
            const RpcParam* p = findParam(params, name);
            if (assigned) {
                if (lastWord == "SET")
                    out.replace(lastWordAt, 3, "SELECT");
                out += "[" + name + "]";
                afterAssignmentList = true;
            } else if (p != nullptr) {
                out += literalOf(*p);
            } else {
                out += name;
            }
            i = j;
            lastWord = "@";
            continue;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            std::size_t j = i;
            while (j < n && isNameChar(statement[j]))
                ++j;
            lastWordAt = out.size();
            lastWord = asciiLower(statement.substr(i, j - i));
            for (char& ch : lastWord)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            if (lastWord == "FROM" || lastWord == "SET" || lastWord == "SELECT")
                afterAssignmentList = false;
            out.append(statement, i, j - i);
            i = j;
            continue;
        }
        if (!std::isspace(static_cast<unsigned char>(c))) {
            lastWord = c == ',' ? "," : std::string(1, c);
            lastWordAt = out.size();
        }
        out.push_back(c);
        ++i;
    }
    return out;
}

void AssignmentSink::rowSet(const RowSet& rows) {
    bool assignment = !rows.columns.empty();
    for (const Column& c : rows.columns)
        assignment = assignment && !c.name.empty() && c.name[0] == '@' &&
                     findParam(params_, c.name) != nullptr;
    if (!assignment) {
        next_.rowSet(rows);
        return;
    }
    swallowedRows_ = true;
    for (std::size_t i = 0; i < rows.columns.size(); ++i) {
        RpcParam* p = findParam(params_, rows.columns[i].name);
        if (rows.rows.empty() || i >= rows.rows.back().size())
            continue;
        p->value = rows.rows.back()[i]; // the last row's value stays, as with SELECT @x = ...
        p->real.reset();
        if (auto* d = std::get_if<double>(&p->value)) {
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", *d);
            p->real = *d;
            p->value = std::string(text);
        } else if (auto* n = std::get_if<Decimal>(&p->value)) {
            // numeric as its text: the digits with the column's scale
            std::string digits = n->digits;
            const auto scale = static_cast<std::size_t>(std::max(0, rows.columns[i].scale));
            if (digits.size() <= scale)
                digits.insert(0, scale + 1 - digits.size(), '0');
            if (scale > 0)
                digits.insert(digits.size() - scale, ".");
            p->value = (n->negative ? "-" : "") + digits;
        }
        if (auto* s = std::get_if<std::string>(&p->value);
            s != nullptr && (p->type == 0x6D || p->type == 0x3E || p->type == 0x3B)) {
            char* end = nullptr;
            const double d = std::strtod(s->c_str(), &end);
            p->real = d;
        }
    }
}

void AssignmentSink::statementDone(const StatementEnd& end) {
    if (swallowedRows_) {
        swallowedRows_ = false;
        StatementEnd quiet = end; // an assignment reports no row count
        quiet.hasCount = false;
        quiet.count = 0;
        next_.statementDone(quiet);
        return;
    }
    next_.statementDone(end);
}

void writeReturnValues(TokenWriter& w, const std::vector<RpcParam>& params) {
    w.returnStatus(0);
    std::uint16_t ordinal = 0;
    for (const RpcParam& p : params) {
        ++ordinal;
        if (!p.output)
            continue;
        std::vector<std::uint8_t> value;
        const bool isNull = std::holds_alternative<std::monostate>(p.value);
        auto put = [&](std::uint64_t v, int bytes) {
            for (int k = 0; k < bytes; ++k)
                value.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
        };
        std::int64_t integer = 0;
        if (auto* i = std::get_if<std::int64_t>(&p.value))
            integer = *i;
        else if (auto* s = std::get_if<std::string>(&p.value))
            integer = std::strtoll(s->c_str(), nullptr, 10);
        double real = p.real.value_or(static_cast<double>(integer));
        std::vector<std::uint8_t> bytes;
        if (auto* s = std::get_if<std::string>(&p.value)) {
            if (isUnicode(p.type)) {
                appendUtf16le(bytes, platform::utf8ToUtf16(*s));
            } else {
                const std::string text = utf8ToCodePage(*s, codePageOf(p));
                bytes.assign(text.begin(), text.end());
            }
        } else if (auto* b = std::get_if<Bytes>(&p.value)) {
            bytes.assign(b->begin(), b->end());
        } else if (!isNull) {
            const std::string text = std::to_string(integer);
            if (isUnicode(p.type))
                appendUtf16le(bytes, platform::utf8ToUtf16(text));
            else
                bytes.assign(text.begin(), text.end());
        }
        const std::uint8_t type = p.type;
        if (const int fixed = fixedSize(type)) {
            if (type == 0x3E) {
                std::uint64_t raw = 0;
                std::memcpy(&raw, &real, 8);
                put(raw, 8);
            } else {
                put(static_cast<std::uint64_t>(integer), fixed);
            }
        } else if (type == 0x26 || type == 0x68 || type == 0x6D) {
            const int length = p.typeInfo.size() > 1 ? p.typeInfo[1] : 8;
            if (isNull) {
                value.push_back(0);
            } else if (type == 0x6D) {
                value.push_back(8);
                std::uint64_t raw = 0;
                std::memcpy(&raw, &real, 8);
                put(raw, 8);
            } else {
                value.push_back(static_cast<std::uint8_t>(length));
                put(static_cast<std::uint64_t>(integer), length);
            }
        } else if (type == 0xA7 || type == 0xAF || type == 0xE7 || type == 0xEF || type == 0xA5 ||
                   type == 0xAD) {
            const std::size_t maxLength = p.typeInfo.size() >= 3 ? le(p.typeInfo.data() + 1, 2) : 0;
            if (maxLength == 0xFFFF) {
                if (isNull) {
                    put(0xFFFFFFFFFFFFFFFFull, 8);
                } else {
                    put(bytes.size(), 8);
                    if (!bytes.empty()) {
                        put(bytes.size(), 4);
                        value.insert(value.end(), bytes.begin(), bytes.end());
                    }
                    put(0, 4);
                }
            } else if (isNull) {
                put(0xFFFF, 2);
            } else {
                if (bytes.size() > maxLength)
                    bytes.resize(maxLength); // the declared size cuts, as on the server
                put(bytes.size(), 2);
                value.insert(value.end(), bytes.begin(), bytes.end());
            }
        } else {
            continue; // text, ntext and image cannot be output parameters
        }
        w.returnValue(ordinal, p.name, p.typeInfo, value);
    }
}

} // namespace kv::standin::tds
