// The property "Objects" of a skin object: its children, each as class name plus its own
// component stream.
//
//   count (32-bit)               bits 16-19 all set: the children are in the binary form
//   per child, textual form:     class name (string), the object clause (string)
//   per child, binary form:      class name (string), size (32-bit), "TPF0" stream
//
// A child whose class is not a registered skin object class is skipped: its record is read
// past and the next one follows. Trees deeper than kMaxSkinDepth are refused, so a crafted
// stream cannot exhaust the stack.
#include "skin/store/SkinBytes.h"
#include "skin/store/SkinObject.h"
#include "toolkit/Filer.h"
#include "toolkit/SysUtils.h"
#include "toolkit/TypInfo.h"

namespace kv::skin {

namespace {

constexpr int kMaxSkinDepth = 16;
constexpr std::uint32_t kBinaryFormBits = 0xF0000u;

thread_local bool gBinaryChildForms = false;
thread_local int gChildDepth = 0;

struct DepthGuard {
    DepthGuard() {
        if (++gChildDepth > kMaxSkinDepth) {
            --gChildDepth;
            throw EReadError("Skin objects nested deeper than " + std::to_string(kMaxSkinDepth) +
                             " levels");
        }
    }
    ~DepthGuard() { --gChildDepth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

} // namespace

BinaryChildFormsScope::BinaryChildFormsScope(bool Binary) : FPrevious(gBinaryChildForms) {
    gBinaryChildForms = Binary;
}
BinaryChildFormsScope::~BinaryChildFormsScope() {
    gBinaryChildForms = FPrevious;
}
bool BinaryChildFormsScope::Active() {
    return gBinaryChildForms;
}

TSkinObject* CreateSkinObject(std::string_view ClassName, TComponent* Owner) {
    TPersistentClass info = GetClass(ClassName);
    if (info == nullptr || !info->IsComponent() || !info->CanCreate() ||
        !info->InheritsFrom("TSkinObject"))
        return nullptr;
    TComponent* c = info->CreateComponent(Owner);
    auto* obj = dynamic_cast<TSkinObject*>(c);
    if (obj == nullptr)
        delete c;
    return obj;
}

std::string WriteChildObjects(const TSkinObject& Parent, bool BinaryForms) {
    SkinByteWriter out;
    const auto count = static_cast<std::uint32_t>(Parent.ChildCount());
    out.U32(BinaryForms ? (count | kBinaryFormBits) : count);
    for (int i = 0; i < Parent.ChildCount(); ++i) {
        TSkinObject* child = Parent.Child(i);
        out.String(child->ClassName());
        if (BinaryForms) {
            const std::string stream = WriteComponent(child);
            out.U32(static_cast<std::uint32_t>(stream.size()));
            out.Bytes(stream);
        } else {
            out.String(WriteComponentText(child));
        }
    }
    return std::move(out.Data());
}

void ReadChildObjects(TSkinObject& Parent, std::string_view Data) {
    DepthGuard depth;
    SkinByteReader in(Data);
    std::uint32_t count = in.U32("the child count");
    const bool binary = (count & kBinaryFormBits) == kBinaryFormBits;
    if (binary)
        count &= ~kBinaryFormBits;
    // Every record takes at least 8 bytes; a count beyond that is a lie and fails below when
    // the data runs out, without reserving anything for it.
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string cls = in.String("a child's class name");
        const std::string_view stream =
            binary ? in.Bytes(in.U32("a child's stream size"), "a child's stream")
                   : in.Bytes(in.U32("a child's object text"), "a child's object text");
        TSkinObject* child = CreateSkinObject(cls, &Parent);
        if (child == nullptr)
            continue;
        try {
            ReadRootComponent(child, stream);
        } catch (...) {
            delete child;
            throw;
        }
    }
    if (!in.AtEnd())
        in.Fail("Unexpected data after " + std::to_string(count) + " child objects");
}

} // namespace kv::skin
