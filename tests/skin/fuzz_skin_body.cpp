// Fuzz target: the skin body reader (bitmaps, key replacement, object text and binary forms,
// children in "Objects", link resolution); what it accepts is painted in every state, then
// written and read back.
#include "skin/store/SkinBody.h"
#include "skin/store/SkinPaint.h"
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
    // Every object paints in every state without reading or writing out of bounds.
    TSkinBitmap target("target", 40, 30);
    TSkinCanvas canvas(target);
    for (const auto& object : source.Objects)
        for (int state : {0, 5, 6, 7, 8}) {
            object->SetState(state);
            object->Paint(canvas, {0, 0, 40, 30});
            object->Paint(canvas, {-7, 3, 9, 100});
        }
    // What was read must write and read back.
    for (bool binary : {false, true}) {
        TSkinSource back;
        if (!kv::skin::ReadSkinBody(kv::skin::WriteSkinBody(source, binary), back).Ok() ||
            back.Bitmaps.size() != source.Bitmaps.size())
            std::abort();
    }
    return 0;
}
