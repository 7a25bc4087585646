// UTF-8 <-> OLE text at the OLE DB seam, and GUID formatting. OLECHAR is a 16-bit unit in both
// builds (char16_t here, wchar_t on Windows); the conversion itself is platform/Unicode.h, so
// invalid input becomes U+FFFD rather than failing: texts cross the seam for display and
// messages.
#include "platform/Unicode.h"
#include "platform/oledb/com_lite.h"

#include <cstdio>
#include <cstring>

namespace kv::oledb {

// The units are copied one by one, which is a plain copy where OLECHAR is char16_t and a widening
// where it is wchar_t.
OleString toOle(std::string_view utf8) {
    const std::u16string units = platform::utf8ToUtf16(utf8);
    return OleString(units.begin(), units.end());
}

std::string fromOle(const OLECHAR* text, std::size_t length) {
    return platform::utf16ToUtf8(std::u16string(text, text + length));
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
