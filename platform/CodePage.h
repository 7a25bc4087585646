#pragma once
// The 8-bit ANSI code page of the machine. The program's texts are UTF-8; they are converted
// only where bytes leave the program in that code page (the activity log file) or arrive in it.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kv::platform {

class CodePage {
public:
    virtual ~CodePage() = default;
    // The code page number (GetACP), 1254 on the simulated host.
    virtual std::uint32_t number() const = 0;
    // UTF-8 to the code page; characters the code page lacks, and bytes that are not valid UTF-8,
    // become "?".
    virtual std::string fromUtf8(std::string_view utf8) const = 0;
    // The code page to UTF-8; bytes the code page leaves undefined become "?".
    virtual std::string toUtf8(std::string_view ansi) const = 0;
};

// A code page of this backend by number, with the rules above (Windows: the system's tables; the
// simulated host: iconv). Throws PlatformError when the backend does not have it.
std::unique_ptr<CodePage> openCodePage(std::uint32_t number);

} // namespace kv::platform
