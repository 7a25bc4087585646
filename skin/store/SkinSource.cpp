#include "skin/store/SkinSource.h"

#include "skin/store/SkinHue.h"
#include "toolkit/SysUtils.h"

TSkinSource::TSkinSource() = default;
TSkinSource::~TSkinSource() = default;

void TSkinSource::Clear() {
    Objects.clear();
    Bitmaps.clear();
    Header = TSkinHeader();
    AppliedHue = 0;
}

const TSkinBitmap* TSkinSource::FindBitmap(std::string_view Name) const {
    for (const auto& b : Bitmaps)
        if (SameText(b->Name, Name))
            return b.get();
    return nullptr;
}

TSkinObject* TSkinSource::FindObject(std::string_view Name) const {
    if (Changing)
        return nullptr;
    for (const auto& o : Objects)
        if (SameText(o->Name(), Name))
            return o.get();
    return nullptr;
}

namespace {

TSkinObject* firstClient(TSkinObject* Object) {
    if (Object->Kind == skClient)
        return Object;
    for (int i = 0; i < Object->ChildCount(); ++i)
        if (TSkinObject* found = firstClient(Object->Child(i)))
            return found;
    return nullptr;
}

} // namespace

void TSkinSource::UnmaskClientObjects() {
    for (const auto& o : Objects)
        if (TSkinObject* client = firstClient(o.get()))
            client->Masked = false;
}

void TSkinSource::ShiftHue(int Degrees) {
    if (Degrees % 360 == 0)
        return;
    for (const auto& b : Bitmaps)
        for (std::uint32_t& p : b->Pixels)
            if (PixelAlpha(p) != 0)
                p = kv::skin::RotatePixelHue(p, Degrees);
    for (const auto& o : Objects)
        o->ForEachColor([Degrees](TColor& c) { c = kv::skin::RotateColorHue(c, Degrees); });
}
