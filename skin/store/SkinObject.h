// TSkinObject: a named piece of a skin, the root of the skin object classes.
//
// A skin object says how to paint one part of a control: where it lies in its parent
// (Align, Left, Top, Width, Height), its margins, colour and font, and, in the derived classes
// (SkinObjectClasses.h), which part of which skin bitmap to draw for which state. Objects form
// small trees: the children of an object are the skin objects it owns, in creation order. In a
// component stream they are not written as nested clauses but inside the binary property
// "Objects" (a 32-bit count, then per child its class name and its own stream; see
// SkinObjectStreaming.cpp).
//
// Every object carries a current state number (0 normal, 5 hot, 6 pressed, 7 focused,
// 8 disabled); SetState() passes it on to all children. An object copied for a control
// (CopyObject) remembers the control it paints for and can ask it to repaint.
#pragma once

#include "skin/store/SkinBitmap.h"
#include "toolkit/Component.h"
#include "toolkit/Graphics.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>

class TSkinCanvas;
class TSkinSource;
class TSkinBitmapLink;

enum TSkinAlign {
    saNone,
    saLeft,
    saMostLeft,
    saTop,
    saMostTop,
    saRight,
    saMostRight,
    saBottom,
    saMostBottom,
    saClient,
    saTopLeft,
    saTopRight,
    saBottomLeft,
    saBottomRight,
    saCenter,
    saText
};

enum TSkinKind {
    skNone,
    skForm,
    skCaption,
    skTitle,
    skTop,
    skLeft,
    skRight,
    skBottom,
    skTopLeft,
    skTopRight,
    skBottomLeft,
    skBottomRight,
    skSysButton,
    skClient,
    skMenuBar,
    skMenuBarItem,
    skMenuBarItemText,
    skPopupMenu,
    skPopupMenuItem,
    skPopupMenuItemText,
    skItemText,
    skTranparent
};

enum TSkinTextAlign {
    taTopLeft,
    taTopCenter,
    taTopRight,
    taMiddleLeft,
    taMiddleCenter,
    taMiddleRight,
    taBottomLeft,
    taBottomCenter,
    taBottomRight
};

enum TSkinTextEffect { teNone, teShadow };

// State numbers the controls give their objects.
constexpr int ssNormal = 0;
constexpr int ssHot = 5;
constexpr int ssPressed = 6;
constexpr int ssFocused = 7;
constexpr int ssDisabled = 8;

// The repaint request a bound object sends its control.
constexpr int SKN_REPAINT = 2121;

namespace kv::skin {
extern const TEnumInfo SkinAlignInfo;
extern const TEnumInfo SkinKindInfo;
extern const TEnumInfo SkinTextAlignInfo;
extern const TEnumInfo SkinTextEffectInfo;
} // namespace kv::skin

class TSkinObject : public TComponent {
public:
    explicit TSkinObject(TComponent* AOwner);
    ~TSkinObject() override;
    std::string ClassName() const override { return "TSkinObject"; }

    TSkinAlign Align = saNone;
    TColor Color = clBtnFace;
    bool DrawIfOwner = false;
    TSkinKind Kind = skNone;
    bool Masked = false;
    int Left = 0;
    int Top = 0;
    int Height = 0;
    int Width = 0;
    int MarginLeft = 0;
    int MarginRight = 0;
    int MarginTop = 0;
    int MarginBottom = 0;
    TSkinTextAlign TextAlign = taMiddleCenter;
    TSkinTextEffect TextEffect = teNone;
    int TextMarginLeft = 0;
    int TextMarginRight = 0;
    int TextMarginTop = 0;

    TFont* Font() const { return FFont.get(); }

    // The child skin objects, in creation order.
    int ChildCount() const;
    TSkinObject* Child(int Index) const;
    TSkinObject* Parent() const;

    int State() const { return FState; }
    // Sets the state of this object and of all its children.
    void SetState(int Value);

    // This object when its name matches (ignoring case), else the first match in the children's
    // subtrees, depth first; nullptr when none.
    TSkinObject* FindObject(std::string_view AName);
    // A new object of the same class with all properties and children copied, owned by Owner.
    TSkinObject* CopyObject(TComponent* AOwner) const;
    // Copies the published properties (not the children) of Source, which must be of this
    // object's class or a parent class of it.
    void AssignProperties(const TSkinObject* Source);

    // Links every bitmap reference in this tree to the bitmap of that name in Source (nullptr
    // when absent), then tells the tree that loading is complete.
    void ResolveLinks(const TSkinSource& Source);
    // Every colour of the tree (object colours and font colours) through Fn.
    virtual void ForEachColor(const std::function<void(TColor&)>& Fn);

    // Paints the object for its current state into Bounds; the base class paints its children.
    virtual void Paint(TSkinCanvas& Canvas, const TSkinRect& Bounds);
    // The rectangle a child with this alignment takes inside Bounds.
    TSkinRect ChildBounds(const TSkinObject& Child, const TSkinRect& Bounds) const;

    // The control this copy paints for and how it asks that control to repaint.
    TObject* Control() const { return FControl; }
    void BindControl(TObject* AControl, std::function<void(int Msg)> Notify);
    // Sends the repaint request (SKN_REPAINT) to the bound control.
    void RequestRepaint();

    // Children are not nested clauses in a stream; they travel in the property "Objects".
    void GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root) override;
    // A clause nested in a skin object's clause (the readable form of skin sources) becomes a
    // child of that object.
    void SetParentComponent(TComponent* Value) override;
    void DefineProperties(TFiler* Filer) override;

protected:
    virtual void ResolveOwnLinks(const TSkinSource& Source);
    virtual void LoadComplete() {}

private:
    std::unique_ptr<TFont> FFont;
    int FState = ssNormal;
    TObject* FControl = nullptr;
    std::function<void(int)> FNotify;
};

// Reading and writing the property "Objects" (SkinObjectStreaming.cpp).
namespace kv::skin {
// The children of Parent as the property's bytes: text clauses, or binary component streams
// with the count's 0xF0000 bits set.
std::string WriteChildObjects(const TSkinObject& Parent, bool BinaryForms);
// Reads the property's bytes into new children of Parent; raises EReadError on bad data.
// Records of classes that are not registered skin object classes are skipped.
void ReadChildObjects(TSkinObject& Parent, std::string_view Data);
// While alive, "Objects" properties are written in the binary forms (mskn files).
class BinaryChildFormsScope {
public:
    explicit BinaryChildFormsScope(bool Binary);
    ~BinaryChildFormsScope();
    BinaryChildFormsScope(const BinaryChildFormsScope&) = delete;
    BinaryChildFormsScope& operator=(const BinaryChildFormsScope&) = delete;
    static bool Active();

private:
    bool FPrevious;
};
// A new skin object of the registered class ClassName owned by Owner, or nullptr when no such
// skin object class is registered.
TSkinObject* CreateSkinObject(std::string_view ClassName, TComponent* Owner);
} // namespace kv::skin
