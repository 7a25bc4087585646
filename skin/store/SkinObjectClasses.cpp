#include "skin/store/SkinObjectClasses.h"

#include "skin/store/SkinPaint.h"
#include "skin/store/SkinSource.h"
#include "toolkit/ClassBuilder.h"

namespace kv::skin {
const TEnumInfo TileStyleInfo{"TTileStyle", {"tsTile", "tsStretch", "tsCenter"}};
}

namespace {

template <class B>
void addLinkProperties(B& Builder) {
    Builder.String("Name", &TSkinBitmapLink::Name)
        .Integer("Left", &TSkinBitmapLink::Left)
        .Default(0)
        .Integer("Top", &TSkinBitmapLink::Top)
        .Default(0)
        .Integer("Right", &TSkinBitmapLink::Right)
        .Default(0)
        .Integer("Bottom", &TSkinBitmapLink::Bottom)
        .Default(0);
}

const bool registered = [] {
    using kv::skin::TileStyleInfo;
    using kv::toolkit::ClassBuilder;
    ClassBuilder<TSkinBitmapLink> link("TSkinBitmapLink", "TPersistent");
    addLinkProperties(link);
    ClassBuilder<TSkinBitmapObject>("TSkinBitmapObject", "TSkinObject")
        .Object("Bitmap", &TSkinBitmapObject::Bitmap)
        .Enum("BorderTileStyle", &TileStyleInfo, &TSkinBitmapObject::BorderTileStyle,
              &TSkinBitmapObject::BorderTileStyle)
        .Default(tsTile)
        .Bool("MaskedBorder", &TSkinBitmapObject::MaskedBorder)
        .Default(false)
        .Bool("MaskedAngles", &TSkinBitmapObject::MaskedAngles)
        .Default(false)
        .Enum("TileStyle", &TileStyleInfo, &TSkinBitmapObject::TileStyle,
              &TSkinBitmapObject::TileStyle)
        .Default(tsTile);
    ClassBuilder<TSkinButtonObject>("TSkinButtonObject", "TSkinBitmapObject")
        .Object("BitmapHot", &TSkinButtonObject::BitmapHot)
        .Object("BitmapFocused", &TSkinButtonObject::BitmapFocused)
        .Object("BitmapPressed", &TSkinButtonObject::BitmapPressed)
        .Object("BitmapDisabled", &TSkinButtonObject::BitmapDisabled);
    ClassBuilder<TSkinTextObject>("TSkinTextObject", "TSkinObject")
        .Object("FontHot", &TSkinTextObject::FontHot)
        .Object("FontFocused", &TSkinTextObject::FontFocused)
        .Object("FontPressed", &TSkinTextObject::FontPressed)
        .Object("FontDisabled", &TSkinTextObject::FontDisabled);
    ClassBuilder<TSkinActiveObject>("TSkinActiveObject", "TSkinObject");
    ClassBuilder<TSkinActiveBitmap>("TSkinActiveBitmap", "TSkinButtonObject");
    ClassBuilder<TSkinSystemButton>("TSkinSystemButton", "TSkinButtonObject");
    return true;
}();

} // namespace

// ----- TSkinBitmapLink -------------------------------------------------------------------------

void TSkinBitmapLink::Resolve(const TSkinSource& Source) {
    FBitmap = Name.empty() ? nullptr : Source.FindBitmap(Name);
}

void TSkinBitmapLink::Assign(TPersistent* Source) {
    auto* src = dynamic_cast<TSkinBitmapLink*>(Source);
    if (src == nullptr) {
        TPersistent::Assign(Source);
        return;
    }
    Name = src->Name;
    Left = src->Left;
    Top = src->Top;
    Right = src->Right;
    Bottom = src->Bottom;
    FBitmap = src->FBitmap;
}

// ----- TSkinBitmapObject -----------------------------------------------------------------------

TSkinBitmapObject::TSkinBitmapObject(TComponent* AOwner)
    : TSkinObject(AOwner), FBitmap(std::make_unique<TSkinBitmapLink>()) {
    (void)registered;
}

TSkinBitmapObject::~TSkinBitmapObject() = default;

void TSkinBitmapObject::ResolveOwnLinks(const TSkinSource& Source) {
    FBitmap->Resolve(Source);
}

void TSkinBitmapObject::Paint(TSkinCanvas& Canvas, const TSkinRect& Bounds) {
    const TSkinBitmapLink& link = StateLink();
    if (link.Valid())
        kv::skin::PaintNinePiece(Canvas, *link.Bitmap(), link.Rect(), Bounds,
                                 {MarginLeft, MarginTop, MarginRight, MarginBottom}, TileStyle,
                                 BorderTileStyle, Masked, MaskedBorder, MaskedAngles);
    TSkinObject::Paint(Canvas, Bounds);
}

// ----- TSkinButtonObject -----------------------------------------------------------------------

TSkinButtonObject::TSkinButtonObject(TComponent* AOwner)
    : TSkinBitmapObject(AOwner), FHot(std::make_unique<TSkinBitmapLink>()),
      FFocused(std::make_unique<TSkinBitmapLink>()), FPressed(std::make_unique<TSkinBitmapLink>()),
      FDisabled(std::make_unique<TSkinBitmapLink>()) {}

TSkinButtonObject::~TSkinButtonObject() = default;

void TSkinButtonObject::ResolveOwnLinks(const TSkinSource& Source) {
    TSkinBitmapObject::ResolveOwnLinks(Source);
    for (TSkinBitmapLink* l : {FHot.get(), FFocused.get(), FPressed.get(), FDisabled.get()})
        l->Resolve(Source);
}

const TSkinBitmapLink& TSkinButtonObject::StateLink() const {
    const TSkinBitmapLink* chosen = nullptr;
    switch (State()) {
    case ssFocused:
        chosen = FFocused.get();
        break;
    case ssHot:
        chosen = FHot.get();
        break;
    case ssDisabled:
        chosen = FDisabled.get();
        break;
    case ssPressed:
        chosen = FPressed.get();
        break;
    default:
        break;
    }
    return chosen != nullptr && chosen->Valid() ? *chosen : *Bitmap();
}

// ----- TSkinTextObject -------------------------------------------------------------------------

TSkinTextObject::TSkinTextObject(TComponent* AOwner)
    : TSkinObject(AOwner), FHot(std::make_unique<TFont>()), FFocused(std::make_unique<TFont>()),
      FPressed(std::make_unique<TFont>()), FDisabled(std::make_unique<TFont>()) {}

TSkinTextObject::~TSkinTextObject() = default;

TFont* TSkinTextObject::StateFont() const {
    switch (State()) {
    case ssHot:
        return FHot.get();
    case ssPressed:
        return FPressed.get();
    case ssFocused:
        return FFocused.get();
    case ssDisabled:
        return FDisabled.get();
    default:
        return Font();
    }
}

void TSkinTextObject::ForEachColor(const std::function<void(TColor&)>& Fn) {
    for (TFont* f : {FHot.get(), FFocused.get(), FPressed.get(), FDisabled.get()}) {
        TColor c = f->Color();
        Fn(c);
        f->SetColor(c);
    }
    TSkinObject::ForEachColor(Fn);
}

void TSkinTextObject::Paint(TSkinCanvas& Canvas, const TSkinRect& Bounds) {
    Canvas.DrawObjectText(*this, Bounds, *StateFont());
    TSkinObject::Paint(Canvas, Bounds);
}
