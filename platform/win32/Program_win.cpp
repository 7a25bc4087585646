#include "platform/Program.h"
#include "platform/win32/WinText.h"

#include <vector>

namespace kv::platform {

std::string programPath() {
    // The path may be longer than MAX_PATH: grow the buffer until the name fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return win32::fromWide(std::wstring_view(buffer.data(), length));
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace kv::platform
