// Feeds arbitrary text to the textual component parser and the reader behind it.
#include "tests/toolkit/fuzz_classes.h"
#include "toolkit/Filer.h"
#include "toolkit/ObjectText.h"
#include "toolkit/SysUtils.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    registerFuzzClasses();
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const std::string binary = ObjectTextToBinary(text);
        // The converter's own output is canonical: text -> binary -> text -> binary is stable.
        if (ObjectTextToBinary(ObjectBinaryToText(binary)) != binary)
            __builtin_trap();
    } catch (const Exception&) {
    }
    try {
        delete ReadComponent(text);
    } catch (const Exception&) {
    }
    return 0;
}
