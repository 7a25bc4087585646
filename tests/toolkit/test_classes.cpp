#include "tests/toolkit/test_classes.h"

#include "toolkit/ClassBuilder.h"

namespace test {

std::vector<std::string>& loadedLog() {
    static std::vector<std::string> log;
    return log;
}

TTestControl::TTestControl(TComponent* owner)
    : TComponent(owner), Items([](TCollection* c) { return new TTestItem(c); }, this) {}

void TTestControl::SetLink(TTestControl* c) {
    Link = c;
    if (c != nullptr)
        c->FreeNotification(this);
}

void TTestControl::SetCaption(const std::string& s) {
    Caption = s;
    if (ComponentState().Contains(csLoading) && ComponentState().Contains(csReading))
        SawLoadingWhileReading = true;
}

void TTestControl::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
    for (int i = 0; i < root->ComponentCount(); ++i) {
        auto* c = dynamic_cast<TTestControl*>(root->Components(i));
        if (c != nullptr && c->Parent == this)
            proc(c);
    }
}

void TTestControl::DefineProperties(TFiler* filer) {
    TComponent::DefineProperties(filer);
    filer->DefineBinaryProperty(
        "Blob", [this](const std::string& b) { Blob = b; }, [this] { return Blob; }, !Blob.empty());
}

void TTestControl::Notification(TComponent* c, TOperation op) {
    TComponent::Notification(c, op);
    if (op == opRemove && c == Link)
        Link = nullptr;
}

void TTestControl::Loaded() {
    loadedLog().push_back(Name() + (ComponentState().Contains(csLoading) ? "!" : ""));
    TComponent::Loaded();
}

TTestForm::TTestForm(TComponent* owner) : TComponent(owner) {
    Methods.Add("ButtonClick", kv::toolkit::Handler(this, &TTestForm::ButtonClick));
    Methods.Add("WrongType", std::function<void()>([] {}));
}

void TTestForm::GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) {
    for (int i = 0; i < root->ComponentCount(); ++i) {
        TComponent* c = root->Components(i);
        auto* control = dynamic_cast<TTestControl*>(c);
        if (control == nullptr || control->Parent == this || control->Parent == nullptr)
            proc(c);
    }
}

void TTestForm::Loaded() {
    loadedLog().push_back(Name() + (ComponentState().Contains(csLoading) ? "!" : ""));
    TComponent::Loaded();
}

void registerTestClasses() {
    static const bool done = [] {
        using kv::toolkit::ClassBuilder;
        ClassBuilder<TTestItem>("TTestItem", "TCollectionItem")
            .String("Caption", &TTestItem::Caption)
            .Integer("Width", &TTestItem::Width)
            .Default(50);
        ClassBuilder<TTestControl>("TTestControl", "TComponent")
            .Integer("Left", &TTestControl::Left)
            .Integer("Width", &TTestControl::Width)
            .Default(0)
            .Bool("Visible", &TTestControl::Visible)
            .Default(true)
            .Enum("Align", &kv::toolkit::AlignInfo, &TTestControl::Align, &TTestControl::Align)
            .Default(alNone)
            .Set("Anchors", &kv::toolkit::AnchorKindInfo, &TTestControl::Anchors,
                 &TTestControl::Anchors)
            .Default(TAnchors{akLeft, akTop})
            .String("Caption", &TTestControl::GetCaption, &TTestControl::SetCaption)
            .Float("Ratio", &TTestControl::Ratio, &TTestControl::Ratio)
            .Int64("Big", &TTestControl::Big, &TTestControl::Big)
            .Default(0)
            .Color("Color", &TTestControl::Color, &TTestControl::Color)
            .Default(clBtnFace)
            .Object("Font", &TTestControl::GetFont)
            .Object("Lines", &TTestControl::GetLines)
            .Object("Items", &TTestControl::GetItems)
            .Component("Link", &TTestControl::GetLink, &TTestControl::SetLink)
            .Event("OnClick", &TTestControl::OnClick);
        ClassBuilder<TTestForm>("TTestForm", "TComponent").String("Caption", &TTestForm::Caption);
        ClassBuilder<TTestOther>("TTestOther", "TComponent");
        return true;
    }();
    (void)done;
}

} // namespace test
