#include "tests/toolkit/fuzz_classes.h"

#include "toolkit/ClassBuilder.h"
#include "toolkit/Collection.h"
#include "toolkit/Component.h"
#include "toolkit/Filer.h"
#include "toolkit/Graphics.h"
#include "toolkit/Strings.h"
#include "toolkit/UITypes.h"

#include <memory>

namespace {

class TFuzzItem : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;
    std::string ClassName() const override { return "TFuzzItem"; }
    std::string Caption;
    int Width = 0;
};

class TFuzzThing : public TComponent {
public:
    explicit TFuzzThing(TComponent* owner)
        : TComponent(owner), Items([](TCollection* c) { return new TFuzzItem(c); }, this) {}
    std::string ClassName() const override { return "TFuzzThing"; }
    void SetParentComponent(TComponent* p) override { Parent = p; }

    int Left = 0;
    std::int64_t Big = 0;
    bool Visible = true;
    TAlign Align = alNone;
    TAnchors Anchors;
    std::string Caption;
    double Ratio = 0;
    TColor Color = clBtnFace;
    TFont Font;
    TStringList Lines;
    TCollection Items;
    TComponent* Link = nullptr;
    TNotifyEvent OnClick;
    TComponent* Parent = nullptr;
    std::string Blob;

    TFont* GetFont() { return &Font; }
    TStringList* GetLines() { return &Lines; }
    TCollection* GetItems() { return &Items; }
    TComponent* GetLink() const { return Link; }
    void SetLink(TComponent* c) { Link = c; }

    void DefineProperties(TFiler* filer) override {
        TComponent::DefineProperties(filer);
        filer->DefineBinaryProperty(
            "Blob", [this](const std::string& b) { Blob = b; }, [this] { return Blob; },
            !Blob.empty());
    }
};

} // namespace

void registerFuzzClasses() {
    static const bool done = [] {
        using kv::toolkit::ClassBuilder;
        ClassBuilder<TFuzzItem>("TFuzzItem", "TCollectionItem")
            .String("Caption", &TFuzzItem::Caption)
            .Integer("Width", &TFuzzItem::Width);
        ClassBuilder<TFuzzThing>("TFuzzThing", "TComponent")
            .Integer("Left", &TFuzzThing::Left)
            .Int64("Big", &TFuzzThing::Big, &TFuzzThing::Big)
            .Bool("Visible", &TFuzzThing::Visible)
            .Enum("Align", &kv::toolkit::AlignInfo, &TFuzzThing::Align, &TFuzzThing::Align)
            .Set("Anchors", &kv::toolkit::AnchorKindInfo, &TFuzzThing::Anchors,
                 &TFuzzThing::Anchors)
            .String("Caption", &TFuzzThing::Caption)
            .Float("Ratio", &TFuzzThing::Ratio, &TFuzzThing::Ratio)
            .Color("Color", &TFuzzThing::Color, &TFuzzThing::Color)
            .Object("Font", &TFuzzThing::GetFont)
            .Object("Lines", &TFuzzThing::GetLines)
            .Object("Items", &TFuzzThing::GetItems)
            .Component("Link", &TFuzzThing::GetLink, &TFuzzThing::SetLink)
            .Event("OnClick", &TFuzzThing::OnClick);
        return true;
    }();
    (void)done;
}
