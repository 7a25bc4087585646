// The skin object classes below TSkinObject: bitmap objects, push-button objects with a bitmap
// per state, text objects with a font per state, and the further classes a skin may name for
// forms, menus and system buttons (registered so that such skins load; they paint like their
// parents).
#pragma once

#include "skin/store/SkinObject.h"

#include <memory>

enum TTileStyle { tsTile, tsStretch, tsCenter };

namespace kv::skin {
extern const TEnumInfo TileStyleInfo;
}

// A reference to a rectangle of a skin bitmap, by the bitmap's name. The bitmap itself is
// looked up when the skin has been read (ResolveLinks); Bitmap() is nullptr when the name names
// no bitmap of the skin.
class TSkinBitmapLink : public TPersistent {
public:
    std::string ClassName() const override { return "TSkinBitmapLink"; }

    std::string Name;
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    const TSkinBitmap* Bitmap() const { return FBitmap; }
    void Resolve(const TSkinSource& Source);
    // True when the link names a bitmap of the skin (after resolving).
    bool Valid() const { return FBitmap != nullptr; }
    TSkinRect Rect() const { return {Left, Top, Right, Bottom}; }
    void Assign(TPersistent* Source) override;

private:
    const TSkinBitmap* FBitmap = nullptr;
};

class TSkinBitmapObject : public TSkinObject {
public:
    explicit TSkinBitmapObject(TComponent* AOwner);
    ~TSkinBitmapObject() override;
    std::string ClassName() const override { return "TSkinBitmapObject"; }

    TSkinBitmapLink* Bitmap() const { return FBitmap.get(); }
    TTileStyle BorderTileStyle = tsTile;
    bool MaskedBorder = false;
    bool MaskedAngles = false;
    TTileStyle TileStyle = tsTile;

    // Masked, MaskedBorder or MaskedAngles.
    bool AnyMasked() const { return Masked || MaskedBorder || MaskedAngles; }
    // The link drawn for the current state.
    virtual const TSkinBitmapLink& StateLink() const { return *FBitmap; }
    void Paint(TSkinCanvas& Canvas, const TSkinRect& Bounds) override;

protected:
    void ResolveOwnLinks(const TSkinSource& Source) override;

private:
    std::unique_ptr<TSkinBitmapLink> FBitmap;
};

class TSkinButtonObject : public TSkinBitmapObject {
public:
    explicit TSkinButtonObject(TComponent* AOwner);
    ~TSkinButtonObject() override;
    std::string ClassName() const override { return "TSkinButtonObject"; }

    TSkinBitmapLink* BitmapHot() const { return FHot.get(); }
    TSkinBitmapLink* BitmapFocused() const { return FFocused.get(); }
    TSkinBitmapLink* BitmapPressed() const { return FPressed.get(); }
    TSkinBitmapLink* BitmapDisabled() const { return FDisabled.get(); }

    // 7 focused, 5 hot, 8 disabled, 6 pressed, each when that link names a bitmap; else Bitmap.
    const TSkinBitmapLink& StateLink() const override;

protected:
    void ResolveOwnLinks(const TSkinSource& Source) override;

private:
    std::unique_ptr<TSkinBitmapLink> FHot, FFocused, FPressed, FDisabled;
};

class TSkinTextObject : public TSkinObject {
public:
    explicit TSkinTextObject(TComponent* AOwner);
    ~TSkinTextObject() override;
    std::string ClassName() const override { return "TSkinTextObject"; }

    TFont* FontHot() const { return FHot.get(); }
    TFont* FontFocused() const { return FFocused.get(); }
    TFont* FontPressed() const { return FPressed.get(); }
    TFont* FontDisabled() const { return FDisabled.get(); }
    // FontHot, FontPressed, FontFocused or FontDisabled for states 5, 6, 7, 8, else Font.
    TFont* StateFont() const;

    void ForEachColor(const std::function<void(TColor&)>& Fn) override;
    void Paint(TSkinCanvas& Canvas, const TSkinRect& Bounds) override;

private:
    std::unique_ptr<TFont> FHot, FFocused, FPressed, FDisabled;
};

// Classes of the same family for other controls; the console does not paint with them.
class TSkinActiveObject : public TSkinObject {
public:
    using TSkinObject::TSkinObject;
    std::string ClassName() const override { return "TSkinActiveObject"; }
};
class TSkinActiveBitmap : public TSkinButtonObject {
public:
    using TSkinButtonObject::TSkinButtonObject;
    std::string ClassName() const override { return "TSkinActiveBitmap"; }
};
class TSkinSystemButton : public TSkinButtonObject {
public:
    using TSkinButtonObject::TSkinButtonObject;
    std::string ClassName() const override { return "TSkinSystemButton"; }
};
