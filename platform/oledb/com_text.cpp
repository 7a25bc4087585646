// UTF-8 <-> UTF-16 at the OLE DB seam, and GUID formatting. OLECHAR is a 16-bit unit in both
// builds (char16_t here, wchar_t on Windows), so one conversion serves both. Invalid UTF-8
// bytes become U+FFFD rather than failing: texts cross the seam for display and messages.
#include "platform/oledb/com_lite.h"

#include <cstdio>
#include <cstring>

namespace kv::oledb {

OleString toOle(std::string_view utf8) {
    OleString out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            bool ok = i + len <= n;
            char32_t v = c & (0x7F >> len);
            for (std::size_t k = 1; ok && k < len; ++k) {
                ok = (s[i + k] & 0xC0) == 0x80;
                v = (v << 6) | (s[i + k] & 0x3F);
            }
            static constexpr char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
            if (ok && v >= minimum[len] && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF)) {
                cp = v;
            } else {
                len = 1;
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<OLECHAR>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<OLECHAR>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<OLECHAR>(cp));
        }
        i += len;
    }
    return out;
}

std::string fromOle(const OLECHAR* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        char32_t cp = static_cast<char16_t>(text[i]);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < length &&
            static_cast<char16_t>(text[i + 1]) >= 0xDC00 &&
            static_cast<char16_t>(text[i + 1]) <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char16_t>(text[i + 1]) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string fromOle(const OLECHAR* text) {
    if (!text) {
        return {};
    }
    std::size_t n = 0;
    while (text[n]) {
        ++n;
    }
    return fromOle(text, n);
}

OLECHAR* taskStrDup(std::string_view utf8) {
    const OleString wide = toOle(utf8);
    auto* out = static_cast<OLECHAR*>(CoTaskMemAlloc((wide.size() + 1) * sizeof(OLECHAR)));
    if (out) {
        std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(OLECHAR));
    }
    return out;
}

BSTR toBstr(std::string_view utf8) {
    const OleString wide = toOle(utf8);
    return SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
}

std::string guidToString(REFGUID g) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buffer;
}

} // namespace kv::oledb
