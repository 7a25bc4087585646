// Small streamable classes for the toolkit tests: a form-like root with named handlers and a
// control-like component with a property of every kind.
#pragma once

#include "toolkit/Collection.h"
#include "toolkit/Component.h"
#include "toolkit/Filer.h"
#include "toolkit/Graphics.h"
#include "toolkit/Methods.h"
#include "toolkit/Strings.h"
#include "toolkit/UITypes.h"

#include <string>
#include <vector>

namespace test {

// Every Loaded() call: "Name" plus "!" when csLoading was still set at that moment.
std::vector<std::string>& loadedLog();

class TTestItem : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;
    std::string ClassName() const override { return "TTestItem"; }
    std::string Caption;
    int Width = 50;
};

class TTestControl : public TComponent {
public:
    explicit TTestControl(TComponent* owner);
    std::string ClassName() const override { return "TTestControl"; }

    int Left = 0;
    int Width = 0;
    bool Visible = true;
    TAlign Align = alNone;
    TAnchors Anchors{akLeft, akTop};
    std::string Caption;
    double Ratio = 0;
    std::int64_t Big = 0;
    TColor Color = clBtnFace;
    TFont Font;
    TStringList Lines;
    TCollection Items;
    TComponent* Link = nullptr;
    TNotifyEvent OnClick;
    std::string Blob;
    TComponent* Parent = nullptr;
    // State seen when properties were set: csLoading and csReading present?
    bool SawLoadingWhileReading = false;

    TFont* GetFont() { return &Font; }
    TStringList* GetLines() { return &Lines; }
    TCollection* GetItems() { return &Items; }
    TComponent* GetLink() const { return Link; }
    void SetLink(TTestControl* c);
    const std::string& GetCaption() const { return Caption; }
    void SetCaption(const std::string& s);

    void SetParentComponent(TComponent* p) override { Parent = p; }
    TComponent* GetParentComponent() const override { return Parent; }
    bool HasParent() const override { return true; }
    void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;
    void DefineProperties(TFiler* filer) override;
    void Notification(TComponent* c, TOperation op) override;

protected:
    void Loaded() override;
};

// A root that knows handlers by name.
class TTestForm : public TComponent {
public:
    explicit TTestForm(TComponent* owner);
    std::string ClassName() const override { return "TTestForm"; }
    std::any MethodAddress(const std::string& name) const override { return Methods.Find(name); }
    void GetChildren(const std::function<void(TComponent*)>& proc, TComponent* root) override;

    void ButtonClick(TObject* sender) { Clicks.push_back(sender); }
    std::vector<TObject*> Clicks;
    std::string Caption;
    kv::toolkit::MethodTable Methods;

protected:
    void Loaded() override;
};

// A non-visual component that cannot be a Link target.
class TTestOther : public TComponent {
public:
    using TComponent::TComponent;
    std::string ClassName() const override { return "TTestOther"; }
};

void registerTestClasses();

} // namespace test
