// Feeds arbitrary bytes to the binary component reader and to the binary-to-text converter.
// Malformed input must end in a toolkit exception, never a crash, hang or read out of bounds.
#include "tests/toolkit/fuzz_classes.h"
#include "toolkit/Filer.h"
#include "toolkit/ObjectText.h"
#include "toolkit/SysUtils.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    registerFuzzClasses();
    std::string bytes = "TPF0";
    bytes.append(reinterpret_cast<const char*>(data), size);
    try {
        const std::string text = ObjectBinaryToText(bytes);
        // What converts to text converts back, and the second trip changes nothing (only
        // integers stored wider than needed are narrowed on the first).
        const std::string again = ObjectTextToBinary(text);
        if (ObjectBinaryToText(again) != text)
            __builtin_trap();
    } catch (const Exception&) {
    }
    try {
        delete ReadComponent(bytes);
    } catch (const Exception&) {
    }
    return 0;
}
