#include "toolkit/ObjectText.h"

#include "platform/Unicode.h"
#include "toolkit/Filer.h"
#include "toolkit/SysUtils.h"
#include "toolkit/detail/Binary.h"
#include "toolkit/detail/Number.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

using kv::toolkit::ByteReader;
using kv::toolkit::ByteWriter;
using kv::toolkit::kMaxStreamDepth;

bool IsBinaryComponentStream(std::string_view Data) {
    return Data.size() >= 4 && Data.substr(0, 4) == "TPF0";
}

namespace {

bool isIdentStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool isIdentChar(char c) {
    return isIdentStart(c) || (c >= '0' && c <= '9');
}

// A name as the text form writes it: identifier characters, dots between parts.
bool isTextName(std::string_view s, bool allowDots) {
    if (s.empty() || !isIdentStart(s[0]))
        return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '.') {
            if (!allowDots || i + 1 >= s.size() || !isIdentStart(s[i + 1]))
                return false;
        } else if (!isIdentChar(c)) {
            return false;
        }
    }
    return true;
}

bool isKeyword(std::string_view s) {
    return SameText(s, "object") || SameText(s, "inherited") || SameText(s, "inline") ||
           SameText(s, "end");
}

bool isReservedValueWord(std::string_view s) {
    return SameText(s, "True") || SameText(s, "False") || SameText(s, "nil") || SameText(s, "Null");
}

// Currency text: units of 1/10000, exact.
std::string formatCurrency(std::int64_t units) {
    const bool negative = units < 0;
    const std::uint64_t mag =
        negative ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
    std::string r = negative ? "-" : "";
    r += std::to_string(mag / 10000);
    std::uint64_t frac = mag % 10000;
    if (frac != 0) {
        std::string f = std::to_string(frac);
        f.insert(0, 4 - f.size(), '0');
        while (!f.empty() && f.back() == '0')
            f.pop_back();
        r += '.';
        r += f;
    }
    return r;
}

bool parseCurrency(std::string_view text, std::int64_t& units) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    const size_t dot = text.find('.');
    std::string_view whole = text.substr(0, dot);
    std::string_view frac =
        dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
    if (whole.empty() && frac.empty())
        return false;
    while (frac.size() > 4 && frac.back() == '0')
        frac.remove_suffix(1);
    if (frac.size() > 4)
        return false;
    std::uint64_t w = 0;
    if (!whole.empty()) {
        auto [p, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), w);
        if (ec != std::errc() || p != whole.data() + whole.size())
            return false;
    }
    std::uint64_t f = 0;
    for (size_t i = 0; i < 4; ++i) {
        f *= 10;
        if (i < frac.size()) {
            if (frac[i] < '0' || frac[i] > '9')
                return false;
            f += static_cast<std::uint64_t>(frac[i] - '0');
        }
    }
    constexpr std::uint64_t limit = std::uint64_t{1} << 63;
    if (w > limit / 10000)
        return false;
    const std::uint64_t mag = w * 10000 + f;
    if (mag > limit || (!negative && mag == limit))
        return false;
    units = negative ? static_cast<std::int64_t>(0 - mag) : static_cast<std::int64_t>(mag);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Text -> binary

enum class Tok { End, Ident, Integer, Float, String, Char };

struct Token {
    Tok kind = Tok::End;
    std::string text; // identifier, number text (without suffix)
    char ch = 0;      // Tok::Char
    std::int64_t ival = 0;
    char suffix = 0;                // float kind: 0, 's', 'c', 'd'
    std::vector<std::uint32_t> cps; // string code points
    char tag = 0;                   // string kind tag
    int line = 1;
    int col = 1;
};

class TextToBinary {
public:
    TextToBinary(std::string_view text, TTextPositionMap* positions)
        : src_(text), positions_(positions) {}

    std::string run() {
        if (src_.substr(0, 3) == "\xEF\xBB\xBF")
            pos_ = lineStart_ = 3;
        next();
        out_.bytes("TPF0");
        parseObject();
        if (tok_.kind != Tok::End)
            error("Unexpected text after the final 'end'");
        return std::move(out_.data());
    }

private:
    [[noreturn]] void errorAt(const std::string& what, int line, int col) const {
        throw EParserError(what + " on line " + std::to_string(line) + ", column " +
                               std::to_string(col),
                           -1, line, col);
    }
    [[noreturn]] void error(const std::string& what) const { errorAt(what, tok_.line, tok_.col); }
    [[noreturn]] void errorHere(const std::string& what) const {
        errorAt(what, line_, static_cast<int>(pos_ - lineStart_) + 1);
    }

    bool atEnd() const { return pos_ >= src_.size(); }
    char cur() const { return atEnd() ? '\0' : src_[pos_]; }
    char peekAt(size_t k) const { return pos_ + k < src_.size() ? src_[pos_ + k] : '\0'; }

    void skipBlanks() {
        while (!atEnd()) {
            const char c = src_[pos_];
            if (c == '\n' || c == '\r') {
                ++pos_;
                if (c == '\r' && cur() == '\n')
                    ++pos_;
                ++line_;
                lineStart_ = pos_;
            } else if (c == ' ' || c == '\t' || c == '\f' || c == '\v') {
                ++pos_;
            } else {
                break;
            }
        }
    }

    void next() {
        skipBlanks();
        tok_ = Token();
        tok_.line = line_;
        tok_.col = static_cast<int>(pos_ - lineStart_) + 1;
        if (atEnd()) {
            tok_.kind = Tok::End;
            return;
        }
        const char c = cur();
        if (isIdentStart(c)) {
            const size_t start = pos_;
            while (!atEnd() && (isIdentChar(cur()) || (cur() == '.' && isIdentStart(peekAt(1)))))
                ++pos_;
            tok_.kind = Tok::Ident;
            tok_.text = std::string(src_.substr(start, pos_ - start));
            return;
        }
        if ((c >= '0' && c <= '9') || c == '$' ||
            (c == '-' && ((peekAt(1) >= '0' && peekAt(1) <= '9') || peekAt(1) == '$'))) {
            readNumber();
            return;
        }
        if (c == '\'' || c == '#') {
            readString();
            return;
        }
        if (std::strchr("=:[](){}<>,+", c) != nullptr) {
            tok_.kind = Tok::Char;
            tok_.ch = c;
            ++pos_;
            return;
        }
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F) {
            // Not a character to quote: a control character or a byte of a damaged stream.
            static const char kHex[] = "0123456789ABCDEF";
            errorHere(std::string("Invalid character (byte 0x") + kHex[byte >> 4] +
                      kHex[byte & 0xF] + ")");
        }
        errorHere("Invalid character '" + std::string(1, c) + "'");
    }

    void readNumber() {
        bool negative = false;
        if (cur() == '-') {
            negative = true;
            ++pos_;
        }
        if (cur() == '$') {
            ++pos_;
            const size_t start = pos_;
            while (!atEnd() && std::isxdigit(static_cast<unsigned char>(cur())))
                ++pos_;
            const std::string_view digits = src_.substr(start, pos_ - start);
            if (digits.empty() || digits.size() > 16)
                errorHere("Invalid hexadecimal number");
            std::uint64_t v = 0;
            std::from_chars(digits.data(), digits.data() + digits.size(), v, 16);
            if (isIdentChar(cur()))
                errorHere("Invalid number");
            tok_.kind = Tok::Integer;
            tok_.ival = static_cast<std::int64_t>(negative ? 0 - v : v);
            return;
        }
        const size_t start = pos_ - (negative ? 1 : 0);
        bool isFloat = false;
        while (!atEnd() && cur() >= '0' && cur() <= '9')
            ++pos_;
        if (cur() == '.' && peekAt(1) >= '0' && peekAt(1) <= '9') {
            isFloat = true;
            ++pos_;
            while (!atEnd() && cur() >= '0' && cur() <= '9')
                ++pos_;
        }
        if ((cur() == 'e' || cur() == 'E') &&
            ((peekAt(1) >= '0' && peekAt(1) <= '9') ||
             ((peekAt(1) == '+' || peekAt(1) == '-') && peekAt(2) >= '0' && peekAt(2) <= '9'))) {
            isFloat = true;
            pos_ += 2;
            while (!atEnd() && cur() >= '0' && cur() <= '9')
                ++pos_;
        }
        tok_.text = std::string(src_.substr(start, pos_ - start));
        const char s = cur();
        if ((s == 's' || s == 'S' || s == 'c' || s == 'C' || s == 'd' || s == 'D') &&
            !isIdentChar(peekAt(1))) {
            tok_.suffix = static_cast<char>(std::tolower(static_cast<unsigned char>(s)));
            isFloat = true;
            ++pos_;
        }
        if (isIdentChar(cur()) || cur() == '.')
            errorHere("Invalid number");
        if (isFloat) {
            tok_.kind = Tok::Float;
            return;
        }
        std::string_view digits = tok_.text;
        if (negative)
            digits.remove_prefix(1);
        std::uint64_t mag = 0;
        auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), mag);
        constexpr std::uint64_t limit = std::uint64_t{1} << 63;
        if (ec != std::errc() || p != digits.data() + digits.size() ||
            mag > (negative ? limit : limit - 1))
            error("Integer out of range: " + tok_.text);
        tok_.kind = Tok::Integer;
        tok_.ival = negative ? static_cast<std::int64_t>(0 - mag) : static_cast<std::int64_t>(mag);
    }

    void readStringFragments() {
        for (;;) {
            if (cur() == '\'') {
                ++pos_;
                for (;;) {
                    if (atEnd() || cur() == '\n' || cur() == '\r')
                        errorHere("Unterminated string");
                    if (cur() == '\'') {
                        if (peekAt(1) == '\'') {
                            tok_.cps.push_back('\'');
                            pos_ += 2;
                            continue;
                        }
                        ++pos_;
                        break;
                    }
                    char32_t cp = 0;
                    if (!kv::platform::decodeUtf8(src_, pos_, cp))
                        errorHere("Invalid UTF-8 in string");
                    tok_.cps.push_back(cp);
                }
            } else if (cur() == '#') {
                ++pos_;
                std::uint64_t v = 0;
                size_t start = pos_;
                int base = 10;
                if (cur() == '$') {
                    base = 16;
                    start = ++pos_;
                    while (!atEnd() && std::isxdigit(static_cast<unsigned char>(cur())))
                        ++pos_;
                } else {
                    while (!atEnd() && cur() >= '0' && cur() <= '9')
                        ++pos_;
                }
                const std::string_view digits = src_.substr(start, pos_ - start);
                auto [p, ec] =
                    std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
                if (digits.empty() || ec != std::errc() || v > 0x10FFFF)
                    errorHere("Invalid character code");
                tok_.cps.push_back(static_cast<std::uint32_t>(v));
            } else {
                break;
            }
            const char t = cur();
            if ((t == 'A' || t == 'L' || t == 'W' || t == 'U') && !isIdentChar(peekAt(1))) {
                tok_.tag = t;
                ++pos_;
                return;
            }
            if (isIdentChar(t))
                errorHere("Invalid text after string");
            if (cur() == '\'' || cur() == '#')
                continue;
            // "+" joins strings across lines.
            const size_t savePos = pos_;
            const int saveLine = line_;
            const size_t saveLineStart = lineStart_;
            skipBlanks();
            if (cur() == '+') {
                ++pos_;
                skipBlanks();
                if (cur() != '\'' && cur() != '#')
                    errorHere("String expected after '+'");
                continue;
            }
            pos_ = savePos;
            line_ = saveLine;
            lineStart_ = saveLineStart;
            return;
        }
    }

    void readString() {
        tok_.kind = Tok::String;
        readStringFragments();
    }

    bool isKeyword(const char* word) const {
        return tok_.kind == Tok::Ident && SameText(tok_.text, word);
    }
    bool isChar(char c) const { return tok_.kind == Tok::Char && tok_.ch == c; }
    void expectChar(char c) {
        if (!isChar(c))
            error(std::string("'") + c + "' expected");
        next();
    }
    bool isObjectStart() const {
        return isKeyword("object") || isKeyword("inherited") || isKeyword("inline");
    }

    void mark() {
        if (positions_ != nullptr)
            positions_->push_back({static_cast<std::int64_t>(out_.pos()), {tok_.line, tok_.col}});
    }

    struct DepthGuard {
        explicit DepthGuard(TextToBinary& p) : parser(p) {
            if (++parser.depth_ > kMaxStreamDepth)
                parser.error("Nesting too deep");
        }
        ~DepthGuard() { --parser.depth_; }
        TextToBinary& parser;
    };

    void parseObject() {
        DepthGuard guard(*this);
        if (!isObjectStart())
            error("'object' expected");
        std::uint8_t flags = 0;
        if (isKeyword("inherited"))
            flags |= ffInherited;
        else if (isKeyword("inline"))
            flags |= ffInline;
        mark();
        next();
        if (tok_.kind != Tok::Ident)
            error("Object name or class name expected");
        std::string first = tok_.text;
        std::string name;
        std::string cls;
        next();
        if (isChar(':')) {
            name = first;
            next();
            if (tok_.kind != Tok::Ident)
                error("Class name expected");
            cls = tok_.text;
            next();
        } else {
            cls = first;
        }
        if (cls.find('.') != std::string::npos || name.find('.') != std::string::npos)
            error("Invalid object header");
        std::int64_t childPos = 0;
        if (isChar('[')) {
            next();
            if (tok_.kind != Tok::Integer)
                error("Position expected");
            childPos = tok_.ival;
            flags |= ffChildPos;
            next();
            expectChar(']');
        }
        if (cls.size() >= 0xF0)
            error("Class name too long");
        if (name.size() > 255)
            error("Object name too long");
        if (flags != 0) {
            out_.u8(static_cast<std::uint8_t>(0xF0 | flags));
            if ((flags & ffChildPos) != 0)
                out_.integer(childPos);
        }
        out_.shortStr(cls);
        out_.shortStr(name);
        while (!isKeyword("end") && !isObjectStart()) {
            if (tok_.kind == Tok::End)
                error("'end' expected");
            parseProperty();
        }
        out_.u8(0);
        while (!isKeyword("end")) {
            if (!isObjectStart())
                error("'end' expected");
            parseObject();
        }
        out_.u8(0);
        next();
    }

    void parseProperty() {
        if (tok_.kind != Tok::Ident || isObjectStart() || isKeyword("end"))
            error("Property name expected");
        mark();
        if (!out_.shortStr(tok_.text))
            error("Property name too long");
        next();
        expectChar('=');
        parseValue(false);
    }

    void writeString() {
        const auto& cps = tok_.cps;
        bool ascii = true;
        bool byteSized = true;
        bool surrogate = false;
        for (std::uint32_t cp : cps) {
            ascii = ascii && cp < 0x80;
            byteSized = byteSized && cp < 0x100;
            surrogate = surrogate || (cp >= 0xD800 && cp <= 0xDFFF);
        }
        auto bytes8 = [&] {
            std::string b;
            for (std::uint32_t cp : cps)
                b += static_cast<char>(cp);
            return b;
        };
        auto utf8 = [&] {
            if (surrogate)
                error("Invalid character code in string");
            std::string b;
            for (std::uint32_t cp : cps)
                kv::platform::appendUtf8(b, cp);
            return b;
        };
        auto longKind = [&](std::uint8_t kind, const std::string& b) {
            if (b.size() > UINT32_MAX)
                error("String too long");
            out_.u8(kind);
            out_.le(b.size(), 4);
            out_.bytes(b);
        };
        switch (tok_.tag) {
        case 0:
            if (ascii) {
                const std::string b = bytes8();
                if (b.size() <= 255) {
                    out_.u8(vaString);
                    out_.shortStr(b);
                } else {
                    longKind(vaLString, b);
                }
            } else {
                longKind(vaUTF8String, utf8());
            }
            return;
        case 'A': {
            if (!byteSized)
                error("Character code above 255 in an 8-bit string");
            const std::string b = bytes8();
            if (b.size() > 255)
                error("Short string longer than 255 characters");
            out_.u8(vaString);
            out_.shortStr(b);
            return;
        }
        case 'L':
            if (!byteSized)
                error("Character code above 255 in an 8-bit string");
            longKind(vaLString, bytes8());
            return;
        case 'U':
            longKind(vaUTF8String, utf8());
            return;
        case 'W': {
            std::string b;
            std::uint64_t units = 0;
            auto unit = [&](std::uint32_t u) {
                b += static_cast<char>(u & 0xFF);
                b += static_cast<char>(u >> 8);
                ++units;
            };
            for (std::uint32_t cp : cps) {
                if (cp >= 0x10000) {
                    cp -= 0x10000;
                    unit(0xD800 + (cp >> 10));
                    unit(0xDC00 + (cp & 0x3FF));
                } else {
                    unit(cp);
                }
            }
            out_.u8(vaWString);
            out_.le(units, 4);
            out_.bytes(b);
            return;
        }
        default:
            error("Invalid string kind");
        }
    }

    void writeFloat() {
        switch (tok_.suffix) {
        case 0: {
            kv::toolkit::Extended80 e{};
            if (!kv::toolkit::parseExtended(tok_.text, e))
                error("Invalid floating-point number " + tok_.text);
            out_.u8(vaExtended);
            out_.bytes(std::string_view(reinterpret_cast<const char*>(e.data()), e.size()));
            return;
        }
        case 's': {
            float f = 0;
            if (!kv::toolkit::parseSingle(tok_.text, f))
                error("Invalid floating-point number " + tok_.text);
            std::uint32_t bits = 0;
            std::memcpy(&bits, &f, sizeof bits);
            out_.u8(vaSingle);
            out_.le(bits, 4);
            return;
        }
        case 'c': {
            std::int64_t units = 0;
            if (tok_.text.find_first_of("eE") != std::string::npos ||
                !parseCurrency(tok_.text, units))
                error("Invalid currency value " + tok_.text);
            out_.u8(vaCurrency);
            out_.le(static_cast<std::uint64_t>(units), 8);
            return;
        }
        case 'd': {
            double d = 0;
            if (!kv::toolkit::parseDouble(tok_.text, d))
                error("Invalid date value " + tok_.text);
            std::uint64_t bits = 0;
            std::memcpy(&bits, &d, sizeof bits);
            out_.u8(vaDate);
            out_.le(bits, 8);
            return;
        }
        default:
            error("Invalid number");
        }
    }

    void parseBinary() {
        // The current token is '{'; the hex digits follow in the source.
        std::string bytes;
        int high = -1;
        for (;;) {
            skipBlanks();
            if (atEnd())
                errorHere("'}' expected");
            const char c = cur();
            if (c == '}') {
                ++pos_;
                break;
            }
            int v = -1;
            if (c >= '0' && c <= '9')
                v = c - '0';
            else if (c >= 'a' && c <= 'f')
                v = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                v = c - 'A' + 10;
            if (v < 0)
                errorHere("Invalid binary data");
            ++pos_;
            if (high < 0) {
                high = v;
            } else {
                bytes += static_cast<char>(high * 16 + v);
                high = -1;
            }
        }
        if (high >= 0)
            errorHere("Odd number of hexadecimal digits in binary data");
        out_.u8(vaBinary);
        out_.le(bytes.size(), 4);
        out_.bytes(bytes);
        next();
    }

    void parseValue(bool inList) {
        DepthGuard guard(*this);
        switch (tok_.kind) {
        case Tok::Integer:
            out_.integer(tok_.ival);
            next();
            return;
        case Tok::Float:
            writeFloat();
            next();
            return;
        case Tok::String:
            writeString();
            next();
            return;
        case Tok::Ident:
            if (SameText(tok_.text, "True")) {
                out_.u8(vaTrue);
            } else if (SameText(tok_.text, "False")) {
                out_.u8(vaFalse);
            } else if (SameText(tok_.text, "nil")) {
                out_.u8(vaNil);
            } else if (SameText(tok_.text, "Null")) {
                if (inList)
                    error("Null cannot stand in a list");
                out_.u8(vaNull);
            } else {
                out_.u8(vaIdent);
                if (!out_.shortStr(tok_.text))
                    error("Identifier too long");
            }
            next();
            return;
        case Tok::Char:
            break;
        case Tok::End:
            error("Value expected");
        }
        switch (tok_.ch) {
        case '[':
            out_.u8(vaSet);
            next();
            if (!isChar(']')) {
                for (;;) {
                    if (tok_.kind != Tok::Ident)
                        error("Set element expected");
                    if (!out_.shortStr(tok_.text))
                        error("Identifier too long");
                    next();
                    if (isChar(',')) {
                        next();
                        continue;
                    }
                    if (!isChar(']'))
                        error("']' expected");
                    break;
                }
            }
            out_.u8(0);
            next();
            return;
        case '(':
            out_.u8(vaList);
            next();
            while (!isChar(')')) {
                if (tok_.kind == Tok::End)
                    error("')' expected");
                parseValue(true);
            }
            out_.u8(0);
            next();
            return;
        case '{':
            parseBinary();
            return;
        case '<':
            out_.u8(vaCollection);
            next();
            while (!isChar('>')) {
                if (!isKeyword("item"))
                    error("'item' expected");
                mark();
                next();
                out_.u8(vaList);
                while (!isKeyword("end")) {
                    if (tok_.kind == Tok::End)
                        error("'end' expected");
                    parseProperty();
                }
                out_.u8(0);
                next();
            }
            out_.u8(0);
            next();
            return;
        default:
            error("Value expected");
        }
    }

    std::string_view src_;
    size_t pos_ = 0;
    int line_ = 1;
    size_t lineStart_ = 0;
    Token tok_;
    ByteWriter out_;
    TTextPositionMap* positions_;
    int depth_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Binary -> text

class BinaryToText {
public:
    explicit BinaryToText(std::string_view data) : in_(data) {}

    std::string run() {
        if (!IsBinaryComponentStream(in_.bytes(in_.remaining() < 4 ? in_.remaining() : 4)))
            in_.failAt("Invalid stream format (no \"TPF0\" signature)", 0);
        printObject(0);
        if (!in_.atEnd())
            in_.fail("Unexpected data after the root object");
        return std::move(out_);
    }

private:
    struct DepthGuard {
        explicit DepthGuard(BinaryToText& p) : printer(p) {
            if (++printer.depth_ > kMaxStreamDepth)
                printer.in_.fail("Nesting too deep");
        }
        ~DepthGuard() { --printer.depth_; }
        BinaryToText& printer;
    };

    static std::string indent(int n) { return std::string(static_cast<size_t>(n), ' '); }

    std::int64_t readInteger(std::uint8_t kind) {
        switch (kind) {
        case vaInt8:
            return in_.i8();
        case vaInt16:
            return in_.i16();
        case vaInt32:
            return in_.i32();
        case vaInt64:
            return in_.i64();
        default:
            in_.fail("Integer expected");
        }
    }

    void printObject(int ind) {
        DepthGuard guard(*this);
        const size_t start = in_.pos();
        std::uint8_t flags = 0;
        std::int64_t childPos = 0;
        if ((in_.peek() & 0xF0) == 0xF0) {
            flags = in_.u8() & 0x0F;
            if ((flags & ffChildPos) != 0)
                childPos = readInteger(in_.u8());
        }
        const std::string cls = in_.shortStr();
        const std::string name = in_.shortStr();
        if (!isTextName(cls, false))
            in_.failAt("Invalid class name", start);
        if (!name.empty() && !isTextName(name, false))
            in_.failAt("Invalid object name", start);
        out_ += indent(ind);
        out_ += (flags & ffInherited) != 0 ? "inherited "
                : (flags & ffInline) != 0  ? "inline "
                                           : "object ";
        if (!name.empty())
            out_ += name + ": ";
        out_ += cls;
        if ((flags & ffChildPos) != 0)
            out_ += " [" + std::to_string(childPos) + "]";
        out_ += '\n';
        while (in_.peek() != 0)
            printProperty(ind + 2);
        in_.u8();
        while (in_.peek() != 0)
            printObject(ind + 2);
        in_.u8();
        out_ += indent(ind) + "end\n";
    }

    void printProperty(int ind) {
        const size_t start = in_.pos();
        const std::string name = in_.shortStr();
        if (!isTextName(name, true) || isKeyword(name))
            in_.failAt("Invalid property name", start);
        out_ += indent(ind) + name + " = ";
        printValue(ind);
        out_ += '\n';
    }

    static void appendQuoted(std::string& out, const std::vector<std::uint32_t>& cps) {
        if (cps.empty()) {
            out += "''";
            return;
        }
        bool quoted = false;
        for (std::uint32_t cp : cps) {
            const bool plain = cp >= 0x20 && cp != 0x7F && !(cp >= 0x80 && cp < 0xA0) &&
                               !(cp >= 0xD800 && cp <= 0xDFFF);
            if (plain) {
                if (!quoted) {
                    out += '\'';
                    quoted = true;
                }
                if (cp == '\'')
                    out += "''";
                else
                    kv::platform::appendUtf8(out, cp);
            } else {
                if (quoted) {
                    out += '\'';
                    quoted = false;
                }
                out += '#';
                out += std::to_string(cp);
            }
        }
        if (quoted)
            out += '\'';
    }

    void printString8(std::string_view bytes, bool isLong) {
        std::vector<std::uint32_t> cps;
        bool ascii = true;
        for (char c : bytes) {
            const auto b = static_cast<std::uint8_t>(c);
            ascii = ascii && b < 0x80;
            cps.push_back(b);
        }
        appendQuoted(out_, cps);
        if (!isLong && !ascii)
            out_ += 'A';
        if (isLong && !(ascii && bytes.size() > 255))
            out_ += 'L';
    }

    std::string_view longBytes(size_t unitSize) {
        const std::uint32_t count = in_.u32();
        if (count > in_.remaining() / unitSize)
            in_.fail("String or data longer than the stream");
        return in_.bytes(static_cast<size_t>(count) * unitSize);
    }

    void printValue(int ind) {
        DepthGuard guard(*this);
        const size_t start = in_.pos();
        const std::uint8_t kind = in_.u8();
        switch (kind) {
        case vaNull:
            out_ += "Null";
            return;
        case vaList:
            out_ += '(';
            while (in_.peek() != 0) {
                out_ += '\n' + indent(ind + 2);
                printValue(ind + 2);
            }
            in_.u8();
            out_ += ')';
            return;
        case vaInt8:
        case vaInt16:
        case vaInt32:
        case vaInt64:
            out_ += std::to_string(readInteger(kind));
            return;
        case vaExtended: {
            std::string text;
            if (!kv::toolkit::formatExtended(in_.extended(), text))
                in_.failAt("Invalid floating-point value", start);
            out_ += text;
            return;
        }
        case vaSingle: {
            const std::uint32_t bits = in_.u32();
            float f = 0;
            std::memcpy(&f, &bits, sizeof f);
            if (!std::isfinite(f))
                in_.failAt("Invalid floating-point value", start);
            out_ += kv::toolkit::formatSingle(f) + "s";
            return;
        }
        case vaCurrency:
            out_ += formatCurrency(in_.i64()) + "c";
            return;
        case vaDate: {
            const auto bits = static_cast<std::uint64_t>(in_.i64());
            double d = 0;
            std::memcpy(&d, &bits, sizeof d);
            if (!std::isfinite(d))
                in_.failAt("Invalid date value", start);
            out_ += kv::toolkit::formatDouble(d) + "d";
            return;
        }
        case vaString:
            printString8(in_.bytes(in_.u8()), false);
            return;
        case vaLString:
            printString8(longBytes(1), true);
            return;
        case vaUTF8String: {
            const std::string_view b = longBytes(1);
            if (!kv::platform::isValidUtf8(b))
                in_.failAt("Invalid UTF-8 in string", start);
            std::vector<std::uint32_t> cps;
            bool ascii = true;
            size_t p = 0;
            char32_t cp = 0;
            while (kv::platform::decodeUtf8(b, p, cp)) {
                ascii = ascii && cp < 0x80;
                cps.push_back(cp);
            }
            appendQuoted(out_, cps);
            if (ascii)
                out_ += 'U';
            return;
        }
        case vaWString: {
            const std::string_view b = longBytes(2);
            std::vector<std::uint32_t> cps;
            for (size_t i = 0; i < b.size(); i += 2) {
                std::uint32_t u =
                    static_cast<std::uint8_t>(b[i]) |
                    (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[i + 1])) << 8);
                if (u >= 0xD800 && u <= 0xDBFF && i + 3 < b.size()) {
                    const std::uint32_t lo =
                        static_cast<std::uint8_t>(b[i + 2]) |
                        (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[i + 3])) << 8);
                    if (lo >= 0xDC00 && lo <= 0xDFFF) {
                        u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
                        i += 2;
                    }
                }
                cps.push_back(u);
            }
            appendQuoted(out_, cps);
            out_ += 'W';
            return;
        }
        case vaIdent: {
            const std::string ident = in_.shortStr();
            if (!isTextName(ident, true) || isReservedValueWord(ident))
                in_.failAt("Invalid identifier", start);
            out_ += ident;
            return;
        }
        case vaFalse:
            out_ += "False";
            return;
        case vaTrue:
            out_ += "True";
            return;
        case vaNil:
            out_ += "nil";
            return;
        case vaBinary: {
            const std::string_view b = longBytes(1);
            static const char hex[] = "0123456789ABCDEF";
            out_ += '{';
            for (size_t i = 0; i < b.size(); ++i) {
                if (i % 32 == 0)
                    out_ += '\n' + indent(ind + 2);
                const auto v = static_cast<std::uint8_t>(b[i]);
                out_ += hex[v >> 4];
                out_ += hex[v & 15];
            }
            out_ += '}';
            return;
        }
        case vaSet: {
            out_ += '[';
            bool first = true;
            for (;;) {
                const size_t at = in_.pos();
                const std::string ident = in_.shortStr();
                if (ident.empty())
                    break;
                if (!isTextName(ident, true))
                    in_.failAt("Invalid set element", at);
                if (!first)
                    out_ += ", ";
                out_ += ident;
                first = false;
            }
            out_ += ']';
            return;
        }
        case vaCollection:
            out_ += '<';
            while (in_.peek() != 0) {
                if (in_.u8() != vaList)
                    in_.fail("Collection item expected");
                out_ += '\n' + indent(ind + 2) + "item\n";
                while (in_.peek() != 0)
                    printProperty(ind + 4);
                in_.u8();
                out_ += indent(ind + 2) + "end";
            }
            in_.u8();
            out_ += '>';
            return;
        default:
            in_.failAt("Unknown value kind " + std::to_string(kind), start);
        }
    }

    ByteReader in_;
    std::string out_;
    int depth_ = 0;
};

} // namespace

std::string ObjectTextToBinary(std::string_view Text, TTextPositionMap* Positions) {
    return TextToBinary(Text, Positions).run();
}

std::string ObjectBinaryToText(std::string_view Binary) {
    return BinaryToText(Binary).run();
}
