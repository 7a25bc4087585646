#include "skin/store/SkinBody.h"

#include "skin/store/SkinBytes.h"
#include "skin/store/SkinObjectClasses.h"
#include "skin/store/SkinSource.h"
#include "toolkit/Filer.h"
#include "toolkit/SysUtils.h"

#include <climits>
#include <cstdint>

namespace kv::skin {

namespace {

constexpr std::uint32_t kBinaryFormBits = 0xF0000u;

// The smallest bitmap record: the name's length, the width and the height.
constexpr size_t kSmallestBitmap = 12;

bool hasControlCharacters(std::string_view Text) {
    for (const char c : Text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

// Bitmap Index (from 0) of Count. A name with control characters means the reader is no longer
// at a bitmap: most often the bitmap count says more than the skin holds. (Other bytes above
// 0x7F are allowed: names written in a Windows code page.)
void readBitmap(SkinByteReader& In, TSkinSource& Into, std::uint32_t Index, std::uint32_t Count) {
    const std::string which =
        "Bitmap " + std::to_string(Index + 1) + " of " + std::to_string(Count);
    std::string name = In.String("a bitmap name");
    if (hasControlCharacters(name))
        In.Fail(which + " has no readable name (its " + std::to_string(name.size()) +
                " bytes hold control characters): the bitmap count or the bitmap before it is "
                "damaged");
    const std::int32_t width = In.I32("a bitmap width");
    const std::int32_t height = In.I32("a bitmap height");
    if (width < 0 || height == INT_MIN)
        In.Fail(which + " ('" + name + "') has an impossible size " + std::to_string(width) +
                " x " + std::to_string(height));
    const std::uint64_t rows = height < 0
                                   ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(height))
                                   : static_cast<std::uint64_t>(height);
    // Both factors are below 2^31, so the pixel count fits; the byte count is compared without
    // multiplying it out.
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * rows;
    if (pixels > In.Remaining() / 4)
        In.Fail(which + " ('" + name + "') of " + std::to_string(width) + " x " +
                std::to_string(rows) + " pixels needs " + std::to_string(pixels) +
                " x 4 bytes, only " + std::to_string(In.Remaining()) + " left");
    const auto bytes = static_cast<size_t>(pixels * 4);
    const std::string_view data = In.Bytes(bytes, "bitmap pixels");
    auto bmp = std::make_unique<TSkinBitmap>(std::move(name), width, static_cast<int>(rows));
    for (size_t i = 0; i < bmp->Pixels.size(); ++i) {
        const auto* p = reinterpret_cast<const unsigned char*>(data.data() + i * 4);
        bmp->Pixels[i] =
            static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
            (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }
    if (height < 0)
        bmp->FlipRows();
    bmp->ReplaceKeyColors();
    Into.Bitmaps.push_back(std::move(bmp));
}

void readObject(SkinByteReader& In, TSkinSource& Into, bool Binary) {
    const std::string cls = In.String("an object's class name");
    const std::string_view stream = Binary
                                        ? In.Bytes(In.U32("an object's stream size"), "an object")
                                        : In.Bytes(In.U32("an object's text"), "an object's text");
    std::unique_ptr<TSkinObject> obj(CreateSkinObject(cls, nullptr));
    if (!obj)
        return; // not a registered skin object class: skipped
    try {
        ReadRootComponent(obj.get(), stream);
    } catch (const Exception& e) {
        In.Fail("Skin object of class " + cls + ": " + e.Message());
    }
    obj->ResolveLinks(Into);
    Into.Objects.push_back(std::move(obj));
}

} // namespace

void RegisterSkinClasses() {
    // Constructing one object of each translation unit's classes runs their registrations.
    TSkinTextObject text(nullptr);
    TSkinButtonObject button(nullptr);
}

SkinStatus ReadSkinBody(std::string_view Body, TSkinSource& Into) {
    RegisterSkinClasses();
    Into.Clear();
    try {
        SkinByteReader in(Body);
        TSkinHeader& h = Into.Header;
        h.SkinName = in.String("the skin name");
        h.SkinVersion = in.String("the skin version");
        h.Author = in.String("the author");
        h.AuthorEmail = in.String("the author's e-mail");
        h.AuthorWeb = in.String("the author's web address");
        const std::uint32_t count = in.U32("the bitmap count");
        std::uint32_t bitmaps = count;
        const bool binary = (bitmaps & kBinaryFormBits) == kBinaryFormBits;
        if (binary)
            bitmaps &= ~kBinaryFormBits;
        // Each bitmap takes at least kSmallestBitmap bytes and the object count 4 after them.
        const size_t room = in.Remaining() >= 4 ? (in.Remaining() - 4) / kSmallestBitmap : 0;
        if (bitmaps > room)
            in.Fail("The bitmap count " +
                    (binary ? std::to_string(count) + " (with the binary-form marks) " : "") +
                    "says " + std::to_string(bitmaps) + " bitmaps, but the " +
                    std::to_string(in.Remaining()) + " bytes left hold at most " +
                    std::to_string(room) + ": the bitmap count is damaged");
        for (std::uint32_t i = 0; i < bitmaps; ++i)
            readBitmap(in, Into, i, bitmaps);
        const std::uint32_t objects = in.U32("the object count");
        for (std::uint32_t i = 0; i < objects; ++i)
            readObject(in, Into, binary);
        Into.UnmaskClientObjects();
        return {};
    } catch (const Exception& e) {
        // Messages of the component reader may quote names read from the damaged bytes.
        Into.Clear();
        return {ReadableText(e.Message())};
    } catch (const std::exception& e) {
        Into.Clear();
        return {ReadableText(std::string("Skin body cannot be read: ") + e.what())};
    }
}

std::string WriteSkinBody(const TSkinSource& Source, bool BinaryForms) {
    RegisterSkinClasses();
    BinaryChildFormsScope scope(BinaryForms);
    SkinByteWriter out;
    const TSkinHeader& h = Source.Header;
    for (const std::string* s :
         {&h.SkinName, &h.SkinVersion, &h.Author, &h.AuthorEmail, &h.AuthorWeb})
        out.String(*s);
    const auto count = static_cast<std::uint32_t>(Source.Bitmaps.size());
    out.U32(BinaryForms ? (count | kBinaryFormBits) : count);
    for (const auto& b : Source.Bitmaps) {
        out.String(b->Name);
        out.I32(b->Width);
        out.I32(b->Height);
        std::string& d = out.Data();
        for (std::uint32_t p : b->Pixels)
            for (int i = 0; i < 4; ++i)
                d.push_back(static_cast<char>((p >> (8 * i)) & 0xFF));
    }
    out.U32(static_cast<std::uint32_t>(Source.Objects.size()));
    for (const auto& o : Source.Objects) {
        out.String(o->ClassName());
        if (BinaryForms) {
            const std::string stream = WriteComponent(o.get());
            out.U32(static_cast<std::uint32_t>(stream.size()));
            out.Bytes(stream);
        } else {
            out.String(WriteComponentText(o.get()));
        }
    }
    return std::move(out.Data());
}

} // namespace kv::skin
