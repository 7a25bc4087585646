// The ANSI code page of the simulated host through glibc's iconv. iconv stops at a character the
// target lacks; the converter then writes "?" and skips that character (a whole UTF-8 sequence,
// or one byte that is not valid UTF-8), which is what WideCharToMultiByte does with its default
// character.

#include "platform/posix/SimBackends.h"

#include <cerrno>
#include <iconv.h>

namespace kv::platform::sim {

namespace {

iconv_t handle(void* p) {
    return static_cast<iconv_t>(p);
}

// Length of the UTF-8 sequence at the start of `text`, or 1 for a byte that does not start one.
std::size_t utf8Length(const char* text, std::size_t left) {
    const auto b = static_cast<unsigned char>(text[0]);
    const std::size_t length = b < 0x80             ? 1
                               : (b & 0xE0) == 0xC0 ? 2
                               : (b & 0xF0) == 0xE0 ? 3
                               : (b & 0xF8) == 0xF0 ? 4
                                                    : 1;
    if (length > left)
        return 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return 1;
    return length;
}

std::string convert(iconv_t cd, std::string_view input, bool fromUtf8) {
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr); // reset the shift state
    std::string out;
    out.resize(input.size() * (fromUtf8 ? 1 : 3) + 8);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    std::size_t used = 0;
    while (inLeft > 0) {
        char* outPtr = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t result = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        used = out.size() - outLeft;
        if (result != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ: a character the target lacks or an invalid input byte; EINVAL: an incomplete
        // sequence at the end.
        if (out.size() - used < 1)
            out.resize(out.size() * 2);
        out[used++] = '?';
        const std::size_t skip = fromUtf8 ? utf8Length(in, inLeft) : 1;
        in += skip;
        inLeft -= skip;
    }
    out.resize(used);
    return out;
}

} // namespace

IconvCodePage::IconvCodePage(std::uint32_t number) : number_(number) {
    const std::string name = "CP" + std::to_string(number);
    const iconv_t toAnsi = ::iconv_open(name.c_str(), "UTF-8");
    const iconv_t fromAnsi = ::iconv_open("UTF-8", name.c_str());
    if (toAnsi == reinterpret_cast<iconv_t>(-1) || fromAnsi == reinterpret_cast<iconv_t>(-1)) {
        if (toAnsi != reinterpret_cast<iconv_t>(-1))
            ::iconv_close(toAnsi);
        if (fromAnsi != reinterpret_cast<iconv_t>(-1))
            ::iconv_close(fromAnsi);
        throw PlatformError("the code page " + std::to_string(number) +
                            " of the simulated host is not available through iconv (" + name + ")");
    }
    toAnsi_ = toAnsi;
    fromAnsi_ = fromAnsi;
}

IconvCodePage::~IconvCodePage() {
    ::iconv_close(handle(toAnsi_));
    ::iconv_close(handle(fromAnsi_));
}

std::string IconvCodePage::fromUtf8(std::string_view utf8) const {
    std::lock_guard lock(mutex_);
    return convert(handle(toAnsi_), utf8, true);
}

std::string IconvCodePage::toUtf8(std::string_view ansi) const {
    std::lock_guard lock(mutex_);
    return convert(handle(fromAnsi_), ansi, false);
}

} // namespace kv::platform::sim

namespace kv::platform {

std::unique_ptr<CodePage> openCodePage(std::uint32_t number) {
    return std::make_unique<sim::IconvCodePage>(number);
}

} // namespace kv::platform
