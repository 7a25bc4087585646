#include "skin/store/SkinObject.h"

#include "skin/store/SkinPaint.h"
#include "toolkit/ClassBuilder.h"
#include "toolkit/Filer.h"
#include "toolkit/SysUtils.h"

#include <algorithm>

namespace kv::skin {

const TEnumInfo SkinAlignInfo{"TSkinAlign",
                              {"saNone", "saLeft", "saMostLeft", "saTop", "saMostTop", "saRight",
                               "saMostRight", "saBottom", "saMostBottom", "saClient", "saTopLeft",
                               "saTopRight", "saBottomLeft", "saBottomRight", "saCenter",
                               "saText"}};
const TEnumInfo SkinKindInfo{"TSkinKind",
                             {"skNone",
                              "skForm",
                              "skCaption",
                              "skTitle",
                              "skTop",
                              "skLeft",
                              "skRight",
                              "skBottom",
                              "skTopLeft",
                              "skTopRight",
                              "skBottomLeft",
                              "skBottomRight",
                              "skSysButton",
                              "skClient",
                              "skMenuBar",
                              "skMenuBarItem",
                              "skMenuBarItemText",
                              "skPopupMenu",
                              "skPopupMenuItem",
                              "skPopupMenuItemText",
                              "skItemText",
                              "skTranparent"}};
const TEnumInfo SkinTextAlignInfo{"TSkinTextAlign",
                                  {"taTopLeft", "taTopCenter", "taTopRight", "taMiddleLeft",
                                   "taMiddleCenter", "taMiddleRight", "taBottomLeft",
                                   "taBottomCenter", "taBottomRight"}};
const TEnumInfo SkinTextEffectInfo{"TSkinTextEffect", {"teNone", "teShadow"}};

} // namespace kv::skin

namespace {

const bool registered = [] {
    using kv::toolkit::ClassBuilder;
    using namespace kv::skin;
    ClassBuilder<TSkinObject>("TSkinObject", "TComponent")
        .Enum("Align", &SkinAlignInfo, &TSkinObject::Align, &TSkinObject::Align)
        .Default(saNone)
        .Color("Color", &TSkinObject::Color, &TSkinObject::Color)
        .Default(clBtnFace)
        .Bool("DrawIfOwner", &TSkinObject::DrawIfOwner)
        .Default(false)
        .Object("Font", &TSkinObject::Font)
        .Enum("Kind", &SkinKindInfo, &TSkinObject::Kind, &TSkinObject::Kind)
        .Default(skNone)
        .Bool("Masked", &TSkinObject::Masked)
        .Default(false)
        .Integer("Left", &TSkinObject::Left)
        .Default(0)
        .Integer("Top", &TSkinObject::Top)
        .Default(0)
        .Integer("Height", &TSkinObject::Height)
        .Default(0)
        .Integer("Width", &TSkinObject::Width)
        .Default(0)
        .Integer("MarginLeft", &TSkinObject::MarginLeft)
        .Default(0)
        .Integer("MarginRight", &TSkinObject::MarginRight)
        .Default(0)
        .Integer("MarginTop", &TSkinObject::MarginTop)
        .Default(0)
        .Integer("MarginBottom", &TSkinObject::MarginBottom)
        .Default(0)
        .Enum("TextAlign", &SkinTextAlignInfo, &TSkinObject::TextAlign, &TSkinObject::TextAlign)
        .Default(taMiddleCenter)
        .Enum("TextEffect", &SkinTextEffectInfo, &TSkinObject::TextEffect, &TSkinObject::TextEffect)
        .Default(teNone)
        .Integer("TextMarginLeft", &TSkinObject::TextMarginLeft)
        .Default(0)
        .Integer("TextMarginRight", &TSkinObject::TextMarginRight)
        .Default(0)
        .Integer("TextMarginTop", &TSkinObject::TextMarginTop)
        .Default(0);
    return true;
}();

} // namespace

TSkinObject::TSkinObject(TComponent* AOwner)
    : TComponent(AOwner), FFont(std::make_unique<TFont>()) {
    (void)registered;
}

TSkinObject::~TSkinObject() = default;

int TSkinObject::ChildCount() const {
    int n = 0;
    for (int i = 0; i < ComponentCount(); ++i)
        n += dynamic_cast<TSkinObject*>(Components(i)) != nullptr ? 1 : 0;
    return n;
}

TSkinObject* TSkinObject::Child(int Index) const {
    for (int i = 0; i < ComponentCount(); ++i) {
        auto* child = dynamic_cast<TSkinObject*>(Components(i));
        if (child != nullptr && Index-- == 0)
            return child;
    }
    return nullptr;
}

TSkinObject* TSkinObject::Parent() const {
    return dynamic_cast<TSkinObject*>(Owner());
}

void TSkinObject::SetState(int Value) {
    FState = Value;
    for (int i = 0; i < ChildCount(); ++i)
        Child(i)->SetState(Value);
}

TSkinObject* TSkinObject::FindObject(std::string_view AName) {
    if (SameText(Name(), AName))
        return this;
    for (int i = 0; i < ChildCount(); ++i)
        if (TSkinObject* found = Child(i)->FindObject(AName))
            return found;
    return nullptr;
}

void TSkinObject::AssignProperties(const TSkinObject* Source) {
    auto* src = const_cast<TSkinObject*>(Source);
    for (PPropInfo p : GetPropList(src)) {
        if (SameText(p->Name, "Name"))
            continue;
        switch (p->Kind) {
        case pkInteger:
        case pkInt64:
        case pkBoolean:
        case pkEnumeration:
        case pkSet:
            if (p->SetOrd)
                p->SetOrd(this, p->GetOrd(src));
            break;
        case pkString:
            if (p->SetStr)
                p->SetStr(this, p->GetStr(src));
            break;
        case pkFloat:
            if (p->SetFloat)
                p->SetFloat(this, p->GetFloat(src));
            break;
        case pkObject:
            if (TPersistent* mine = p->GetObject(this))
                mine->Assign(p->GetObject(src));
            break;
        case pkComponent:
        case pkMethod:
            break;
        }
    }
    FState = Source->FState;
}

TSkinObject* TSkinObject::CopyObject(TComponent* AOwner) const {
    TSkinObject* copy = kv::skin::CreateSkinObject(ClassName(), AOwner);
    if (copy == nullptr)
        return nullptr;
    try {
        copy->SetName(Name());
        copy->AssignProperties(this);
        for (int i = 0; i < ChildCount(); ++i)
            Child(i)->CopyObject(copy);
    } catch (...) {
        delete copy;
        throw;
    }
    return copy;
}

void TSkinObject::ResolveLinks(const TSkinSource& Source) {
    ResolveOwnLinks(Source);
    for (int i = 0; i < ChildCount(); ++i)
        Child(i)->ResolveLinks(Source);
    LoadComplete();
}

void TSkinObject::ResolveOwnLinks(const TSkinSource&) {}

void TSkinObject::ForEachColor(const std::function<void(TColor&)>& Fn) {
    Fn(Color);
    TColor fontColor = FFont->Color();
    Fn(fontColor);
    FFont->SetColor(fontColor);
    for (int i = 0; i < ChildCount(); ++i)
        Child(i)->ForEachColor(Fn);
}

TSkinRect TSkinObject::ChildBounds(const TSkinObject& C, const TSkinRect& B) const {
    // Sizes and offsets come from skin data: clamped so that the sums below cannot overflow.
    constexpr int kLimit = 1 << 20;
    const int w = std::clamp(C.Width, 0, kLimit);
    const int h = std::clamp(C.Height, 0, kLimit);
    const int left = std::clamp(C.Left, -kLimit, kLimit);
    const int top = std::clamp(C.Top, -kLimit, kLimit);
    switch (C.Align) {
    case saClient:
    case saText:
        return B;
    case saLeft:
    case saMostLeft:
        return {B.Left, B.Top, B.Left + w, B.Bottom};
    case saRight:
    case saMostRight:
        return {B.Right - w, B.Top, B.Right, B.Bottom};
    case saTop:
    case saMostTop:
        return {B.Left, B.Top, B.Right, B.Top + h};
    case saBottom:
    case saMostBottom:
        return {B.Left, B.Bottom - h, B.Right, B.Bottom};
    case saTopLeft:
        return {B.Left, B.Top, B.Left + w, B.Top + h};
    case saTopRight:
        return {B.Right - w, B.Top, B.Right, B.Top + h};
    case saBottomLeft:
        return {B.Left, B.Bottom - h, B.Left + w, B.Bottom};
    case saBottomRight:
        return {B.Right - w, B.Bottom - h, B.Right, B.Bottom};
    case saCenter: {
        const int l = B.Left + (B.Width() - w) / 2;
        const int t = B.Top + (B.Height() - h) / 2;
        return {l, t, l + w, t + h};
    }
    case saNone:
        break;
    }
    return {B.Left + left, B.Top + top, B.Left + left + w, B.Top + top + h};
}

void TSkinObject::Paint(TSkinCanvas& Canvas, const TSkinRect& Bounds) {
    for (int i = 0; i < ChildCount(); ++i) {
        TSkinObject* c = Child(i);
        c->Paint(Canvas, ChildBounds(*c, Bounds));
    }
}

void TSkinObject::BindControl(TObject* AControl, std::function<void(int)> Notify) {
    FControl = AControl;
    FNotify = std::move(Notify);
}

void TSkinObject::RequestRepaint() {
    if (FNotify)
        FNotify(SKN_REPAINT);
}

void TSkinObject::GetChildren(const std::function<void(TComponent*)>&, TComponent*) {}

void TSkinObject::SetParentComponent(TComponent* Value) {
    if (auto* parent = dynamic_cast<TSkinObject*>(Value); parent != nullptr && parent != Owner())
        parent->InsertComponent(this);
}

void TSkinObject::DefineProperties(TFiler* Filer) {
    TComponent::DefineProperties(Filer);
    Filer->DefineBinaryProperty(
        "Objects", [this](const std::string& Data) { kv::skin::ReadChildObjects(*this, Data); },
        [this] {
            return kv::skin::WriteChildObjects(*this, kv::skin::BinaryChildFormsScope::Active());
        },
        ChildCount() > 0);
}
