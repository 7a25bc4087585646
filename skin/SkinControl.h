// TSkinCustomControl: the base of the skin engine's controls. It owns the painting pipeline:
//
//   1. nothing is painted when the control has no width or height;
//   2. the target by Performance: wspDoubleBuffer a fresh 32-bit image of the control's size
//      filled with the transparent key, wspSharedBuffer one image shared by all controls,
//      wspNoBuffer an image that starts fully transparent and is not blended;
//   3. Transparent: the parent's background (its colour) first;
//   4. the border area (PaintBorder), then the client (PaintClient);
//   5. Blending (buffered modes): the result's opacity scaled by Blending->Opacity;
//   6. the image to the screen; pixels still holding the transparent key show what lies below.
//
// It also keeps the hot flag (mouse over the control, OnMouseEnter / OnMouseLeave; also while a
// mouse button is held after a press, so a button dragged off loses its hot look) and the
// focused flag, each repainting when it changes, and the remembered size.
#pragma once

#include "skin/SkinEngine.h"
#include "skin/skin_widget_p.h"
#include "skin/store/SkinBitmap.h"
#include "toolkit/ui/Controls.h"

#include <QImage>
#include <memory>

class QPainter;

enum TSkinPerformance { wspNoBuffer, wspSharedBuffer, wspDoubleBuffer };

namespace kv::skin {
extern const TEnumInfo SkinPerformanceInfo;
}

class TSkinBlending : public TPersistent {
public:
    std::string ClassName() const override { return "TSkinBlending"; }
    bool Enabled = false;
    int Opacity = 255;
    void Assign(TPersistent* Source) override;
};

// Where a control paints: the skin pixels (for skin objects) and, once Painter() has been asked
// for, a QPainter over the same pixels for text and glyphs. Pixel drawing comes first.
class TSkinPaintTarget {
public:
    TSkinPaintTarget(TSkinBitmap& Pixels, int Width, int Height);
    ~TSkinPaintTarget();
    TSkinPaintTarget(const TSkinPaintTarget&) = delete;
    TSkinPaintTarget& operator=(const TSkinPaintTarget&) = delete;

    TSkinBitmap& Pixels() { return FPixels; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    QPainter& Painter();
    void End();

private:
    TSkinBitmap& FPixels;
    int FWidth, FHeight;
    QImage FImage;
    std::unique_ptr<QPainter> FPainter;
};

class TSkinCustomControl : public TWinControl,
                           protected kv::skin::internal::SkinWidgetHost,
                           public TSkinClient {
public:
    explicit TSkinCustomControl(TComponent* AOwner);
    ~TSkinCustomControl() override;
    std::string ClassName() const override { return "TSkinCustomControl"; }

    TSkinPerformance Performance() const { return FPerformance; }
    void SetPerformance(TSkinPerformance Value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);
    TSkinBlending* Blending() const { return FBlending.get(); }

    bool Hot() const { return FHot; }
    bool FocusedFlag() const { return FFocused; }
    int OldWidth() const { return FOldWidth; }
    int OldHeight() const { return FOldHeight; }

    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    // The control as it is painted (steps 1 to 5): ARGB32 of the control's size, the transparent
    // key turned fully transparent. A null image for an empty control.
    QImage RenderImage();

    void SkinNotify(int, TSkinEngine*) override {}
    TControl* SkinClientControl() override { return this; }

protected:
    void SetHot(bool Value);
    void SetFocusedFlag(bool Value);
    virtual void PaintBorder(TSkinPaintTarget&) {}
    virtual void PaintClient(TSkinPaintTarget& Target) = 0;
    void BoundsChanged() override;

    // SkinWidgetHost: the defaults keep the hot and focused flags.
    void hostPaint(QPainter& Painter) override;
    void hostMouseDown(Qt::MouseButton, int, int) override {}
    void hostMouseMove(int, int) override {}
    void hostMouseUp(Qt::MouseButton, int, int) override {}
    void hostMouseEnter() override { SetHot(true); }
    void hostMouseLeave() override { SetHot(false); }
    bool hostKeyDown(int, Qt::KeyboardModifiers, bool) override { return false; }
    bool hostKeyUp(int, Qt::KeyboardModifiers, bool) override { return false; }
    void hostFocusChanged(bool Focused) override { SetFocusedFlag(Focused); }
    void hostResized() override {}

    kv::skin::internal::SkinWidget* SkinWidget() const { return FWidget; }

private:
    kv::skin::internal::SkinWidget* FWidget;
    TSkinPerformance FPerformance = wspDoubleBuffer;
    bool FTransparent = false;
    std::unique_ptr<TSkinBlending> FBlending;
    bool FHot = false;
    bool FFocused = false;
    int FOldWidth = 0;
    int FOldHeight = 0;
};
