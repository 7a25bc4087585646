#include "toolkit/SysUtils.h"

#include <algorithm>
#include <charconv>

Exception::Exception(std::string Message) : FMessage(std::move(Message)) {}

Exception::~Exception() = default;

const char* Exception::what() const noexcept {
    return FMessage.c_str();
}

EAbort::EAbort() : Exception("Operation aborted") {}

void Abort() {
    throw EAbort();
}

namespace {

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

std::string UpperCase(std::string_view S) {
    std::string r(S);
    for (char& c : r)
        c = upperAscii(c);
    return r;
}

std::string LowerCase(std::string_view S) {
    std::string r(S);
    for (char& c : r)
        c = lowerAscii(c);
    return r;
}

int CompareText(std::string_view A, std::string_view B) {
    const size_t n = A.size() < B.size() ? A.size() : B.size();
    for (size_t i = 0; i < n; ++i) {
        const auto a = static_cast<unsigned char>(upperAscii(A[i]));
        const auto b = static_cast<unsigned char>(upperAscii(B[i]));
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (A.size() == B.size())
        return 0;
    return A.size() < B.size() ? -1 : 1;
}

bool SameText(std::string_view A, std::string_view B) {
    return A.size() == B.size() && CompareText(A, B) == 0;
}

int CompareStr(std::string_view A, std::string_view B) {
    const int c = A.compare(B);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string TrimLeft(std::string_view S) {
    size_t i = 0;
    while (i < S.size() && static_cast<unsigned char>(S[i]) <= ' ')
        ++i;
    return std::string(S.substr(i));
}

std::string TrimRight(std::string_view S) {
    size_t n = S.size();
    while (n > 0 && static_cast<unsigned char>(S[n - 1]) <= ' ')
        --n;
    return std::string(S.substr(0, n));
}

std::string Trim(std::string_view S) {
    return TrimLeft(TrimRight(S));
}

std::string IntToStr(std::int64_t Value) {
    return std::to_string(Value);
}

std::string IntToHex(std::uint64_t Value, int Digits) {
    static const char digits[] = "0123456789ABCDEF";
    // Filled from the right: 16 digits hold any value, then the zeros asked for in front.
    char text[16];
    char* at = text + sizeof text;
    do {
        *--at = digits[Value & 15u];
        Value >>= 4;
    } while (Value != 0);
    const auto used = static_cast<int>(text + sizeof text - at);
    std::string r(static_cast<std::size_t>(std::max(0, Digits - used)), '0');
    r.append(at, static_cast<std::size_t>(used));
    return r;
}

bool TryStrToInt(std::string_view S, std::int64_t& Value) {
    std::string t = Trim(S);
    std::string_view v = t;
    bool negative = false;
    if (!v.empty() && (v[0] == '-' || v[0] == '+')) {
        negative = v[0] == '-';
        v.remove_prefix(1);
    }
    int base = 10;
    if (!v.empty() && v[0] == '$') {
        base = 16;
        v.remove_prefix(1);
    } else if (v.size() > 1 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
        base = 16;
        v.remove_prefix(2);
    }
    if (v.empty())
        return false;
    std::uint64_t magnitude = 0;
    auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), magnitude, base);
    if (ec != std::errc() || ptr != v.data() + v.size())
        return false;
    if (negative) {
        if (magnitude > std::uint64_t{1} << 63)
            return false;
        Value = static_cast<std::int64_t>(0 - magnitude);
    } else {
        if (base == 10 && magnitude > static_cast<std::uint64_t>(INT64_MAX))
            return false;
        Value = static_cast<std::int64_t>(magnitude);
    }
    return true;
}

std::int64_t StrToInt(std::string_view S) {
    std::int64_t v = 0;
    if (!TryStrToInt(S, v))
        throw EConvertError("'" + std::string(S) + "' is not a valid integer value");
    return v;
}

std::int64_t StrToIntDef(std::string_view S, std::int64_t Default) {
    std::int64_t v = 0;
    return TryStrToInt(S, v) ? v : Default;
}

std::string QuotedStr(std::string_view S) {
    std::string r = "'";
    for (char c : S) {
        if (c == '\'')
            r += '\'';
        r += c;
    }
    r += '\'';
    return r;
}

bool IsValidIdent(std::string_view Ident) {
    if (Ident.empty())
        return false;
    auto alpha = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    };
    if (!alpha(Ident[0]))
        return false;
    for (char c : Ident)
        if (!alpha(c) && !(c >= '0' && c <= '9'))
            return false;
    return true;
}
