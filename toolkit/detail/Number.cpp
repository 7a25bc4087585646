#include "toolkit/detail/Number.h"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace kv::toolkit {

namespace {

constexpr bool kLongDoubleIsExtended = std::numeric_limits<long double>::digits == 64 &&
                                       std::numeric_limits<long double>::max_exponent == 16384;

std::string ensureFloatForm(std::string s) {
    if (s.find_first_of(".eEn") == std::string::npos)
        s += ".0";
    return s;
}

template <class F>
bool parseFloat(std::string_view text, F& value) {
    if (text.empty())
        return false;
    const char* b = text.data();
    const char* e = b + text.size();
    if (*b == '+')
        ++b;
    auto [ptr, ec] = std::from_chars(b, e, value, std::chars_format::general);
    return ec == std::errc() && ptr == e && std::isfinite(value);
}

// libstdc++ of MinGW-w64 (GCC 12) reads a long double through a double: "-0.1" keeps a double's
// 53 bits and writes back as -0.10000000000000000555. Asked once, with a number that tells.
bool longDoubleFromCharsIsExact() {
    static const bool exact = [] {
        const char text[] = "0.1";
        long double v = 0;
        std::from_chars(text, text + 3, v);
        return v != static_cast<long double>(0.1);
    }();
    return exact;
}

// A long double from text with the grammar of parseFloat; where from_chars is not exact the value
// comes from strtold (the C library's reader, which uses the locale's decimal point).
bool parseLongDouble(std::string_view text, long double& value) {
    if (longDoubleFromCharsIsExact())
        return parseFloat(text, value);
    if (text.empty())
        return false;
    const char* b = text.data();
    const char* e = b + text.size();
    if (*b == '+')
        ++b;
    // The grammar: what from_chars reads as a double (a value too large for a double may still
    // fit a long double).
    double probe = 0;
    auto [ptr, ec] = std::from_chars(b, e, probe, std::chars_format::general);
    if (ptr != e || (ec != std::errc() && ec != std::errc::result_out_of_range))
        return false;
    std::string copy(b, e);
    const char point = *std::localeconv()->decimal_point;
    for (char& c : copy)
        if (c == '.')
            c = point;
    char* end = nullptr;
    errno = 0;
    const long double v = std::strtold(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || errno == ERANGE || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

} // namespace

std::string formatDouble(double Value) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, Value);
    return ensureFloatForm(std::string(buf, r.ptr));
}

std::string formatSingle(float Value) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, Value);
    return ensureFloatForm(std::string(buf, r.ptr));
}

bool parseDouble(std::string_view Text, double& Value) {
    return parseFloat(Text, Value);
}

bool parseSingle(std::string_view Text, float& Value) {
    return parseFloat(Text, Value);
}

Extended80 doubleToExtended(double Value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &Value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int exp = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t mant = bits & ((std::uint64_t{1} << 52) - 1);
    std::uint64_t significand = 0;
    int e = 0;
    if (exp == 0 && mant == 0) {
        e = 0;
    } else if (exp == 0x7FF) {
        e = 0x7FFF;
        significand = (std::uint64_t{1} << 63) | (mant << 11);
    } else if (exp == 0) {
        int p = 51;
        while (((mant >> p) & 1u) == 0)
            --p;
        e = p - 1074 + 16383;
        significand = mant << (63 - p);
    } else {
        e = exp - 1023 + 16383;
        significand = (std::uint64_t{1} << 63) | (mant << 11);
    }
    Extended80 out{};
    for (int i = 0; i < 8; ++i)
        out[static_cast<size_t>(i)] = static_cast<std::uint8_t>(significand >> (8 * i));
    const unsigned se = static_cast<unsigned>(e) | (negative ? 0x8000u : 0u);
    out[8] = static_cast<std::uint8_t>(se & 0xFF);
    out[9] = static_cast<std::uint8_t>(se >> 8);
    return out;
}

double extendedToDouble(const Extended80& Bytes) {
    std::uint64_t m = 0;
    for (int i = 7; i >= 0; --i)
        m = (m << 8) | Bytes[static_cast<size_t>(i)];
    const unsigned se = Bytes[8] | (static_cast<unsigned>(Bytes[9]) << 8);
    const bool negative = (se & 0x8000u) != 0;
    const int e = static_cast<int>(se & 0x7FFF);
    double v = 0;
    if (e == 0x7FFF)
        v = (m << 1) == 0 ? std::numeric_limits<double>::infinity()
                          : std::numeric_limits<double>::quiet_NaN();
    else if (m != 0)
        v = std::ldexp(static_cast<double>(m), e - 16383 - 63);
    return negative ? -v : v;
}

bool formatExtended(const Extended80& Bytes, std::string& Text) {
    if constexpr (kLongDoubleIsExtended) {
        long double v = 0;
        std::memset(&v, 0, sizeof v);
        std::memcpy(&v, Bytes.data(), Bytes.size());
        if (!std::isfinite(v))
            return false;
        char buf[80];
        auto r = std::to_chars(buf, buf + sizeof buf, v);
        if (r.ec != std::errc())
            return false;
        std::string text = ensureFloatForm(std::string(buf, r.ptr));
        // Only canonical encodings survive the trip through text.
        Extended80 back{};
        if (!parseExtended(text, back) || back != Bytes)
            return false;
        Text = std::move(text);
        return true;
    } else {
        const double d = extendedToDouble(Bytes);
        if (!std::isfinite(d))
            return false;
        Text = formatDouble(d);
        return true;
    }
}

bool parseExtended(std::string_view Text, Extended80& Bytes) {
    if constexpr (kLongDoubleIsExtended) {
        long double v = 0;
        if (!parseLongDouble(Text, v))
            return false;
        unsigned char raw[sizeof(long double)] = {};
        std::memcpy(raw, &v, sizeof v);
        std::memcpy(Bytes.data(), raw, Bytes.size());
        return true;
    } else {
        double d = 0;
        if (!parseDouble(Text, d))
            return false;
        Bytes = doubleToExtended(d);
        return true;
    }
}

} // namespace kv::toolkit
