// Fuzz target: the skin body reader (bitmaps, key replacement, object text and binary forms,
// children in "Objects", link resolution), then writing and reading back what it accepted.
#include "skin/store/SkinBody.h"
#include "skin/store/SkinSource.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    const std::string_view body(reinterpret_cast<const char*>(Data), Size);
    TSkinSource source;
    if (!kv::skin::ReadSkinBody(body, source).Ok())
        return 0;
    // What was read must write and read back.
    for (bool binary : {false, true}) {
        TSkinSource back;
        if (!kv::skin::ReadSkinBody(kv::skin::WriteSkinBody(source, binary), back).Ok() ||
            back.Bitmaps.size() != source.Bitmaps.size())
            std::abort();
    }
    return 0;
}
