#include "skin/SkinControl.h"

#include "skin/SkinRegistration.h"
#include "toolkit/ClassBuilder.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/qt_graphics.h"

#include <QPainter>

namespace kv::skin {
const TEnumInfo SkinPerformanceInfo{"TSkinPerformance",
                                    {"wspNoBuffer", "wspSharedBuffer", "wspDoubleBuffer"}};
}

namespace {

const bool registered = [] {
    using kv::toolkit::ClassBuilder;
    ClassBuilder<TSkinBlending>("TSkinBlending", "TPersistent")
        .Bool("Enabled", &TSkinBlending::Enabled)
        .Default(false)
        .Integer("Opacity", &TSkinBlending::Opacity)
        .Default(255);
    ClassBuilder<TSkinCustomControl>("TSkinCustomControl", "TWinControl")
        .Enum("Performance", &kv::skin::SkinPerformanceInfo, &TSkinCustomControl::Performance,
              &TSkinCustomControl::SetPerformance)
        .Default(wspDoubleBuffer)
        .Object("Blending", &TSkinCustomControl::Blending)
        .Event("OnMouseEnter", &TSkinCustomControl::OnMouseEnter)
        .Event("OnMouseLeave", &TSkinCustomControl::OnMouseLeave);
    return true;
}();

// The one image wspSharedBuffer controls paint into; it only grows.
TSkinBitmap& sharedBuffer() {
    static TSkinBitmap buffer;
    return buffer;
}

} // namespace

void TSkinBlending::Assign(TPersistent* Source) {
    if (auto* s = dynamic_cast<TSkinBlending*>(Source)) {
        Enabled = s->Enabled;
        Opacity = s->Opacity;
        return;
    }
    TPersistent::Assign(Source);
}

// ----- TSkinPaintTarget ------------------------------------------------------------------------

TSkinPaintTarget::TSkinPaintTarget(TSkinBitmap& Pixels, int Width, int Height)
    : FPixels(Pixels), FWidth(Width), FHeight(Height) {}

TSkinPaintTarget::~TSkinPaintTarget() {
    End();
}

QPainter& TSkinPaintTarget::Painter() {
    if (!FPainter) {
        FImage = QImage(reinterpret_cast<uchar*>(FPixels.Pixels.data()), FWidth, FHeight,
                        static_cast<qsizetype>(FPixels.Width) * 4, QImage::Format_ARGB32);
        FPainter = std::make_unique<QPainter>(&FImage);
    }
    return *FPainter;
}

void TSkinPaintTarget::End() {
    if (FPainter) {
        FPainter->end();
        FPainter.reset();
    }
}

// ----- TSkinCustomControl ----------------------------------------------------------------------

TSkinCustomControl::TSkinCustomControl(TComponent* AOwner)
    : TWinControl(AOwner), FBlending(std::make_unique<TSkinBlending>()) {
    (void)registered;
    Application->Initialize();
    FWidget = new kv::skin::internal::SkinWidget(this);
    SetWidget(FWidget);
}

TSkinCustomControl::~TSkinCustomControl() {
    FWidget->detach();
}

void TSkinCustomControl::SetPerformance(TSkinPerformance Value) {
    FPerformance = Value;
    Invalidate();
}

void TSkinCustomControl::SetTransparent(bool Value) {
    if (FTransparent == Value)
        return;
    FTransparent = Value;
    Invalidate();
}

void TSkinCustomControl::SetHot(bool Value) {
    if (FHot == Value)
        return;
    FHot = Value;
    Invalidate();
    const TNotifyEvent& event = Value ? OnMouseEnter : OnMouseLeave;
    if (event)
        Application->HandleEvent(this, [this, &event] { event(this); });
}

void TSkinCustomControl::SetFocusedFlag(bool Value) {
    if (FFocused == Value)
        return;
    FFocused = Value;
    Invalidate();
}

void TSkinCustomControl::BoundsChanged() {
    TWinControl::BoundsChanged();
    FOldWidth = Width();
    FOldHeight = Height();
}

QImage TSkinCustomControl::RenderImage() {
    const int w = Width();
    const int h = Height();
    if (w <= 0 || h <= 0)
        return {};
    TSkinBitmap fresh;
    TSkinBitmap* target = &fresh;
    if (FPerformance == wspSharedBuffer) {
        TSkinBitmap& shared = sharedBuffer();
        if (shared.Width < w || shared.Height < h)
            shared = TSkinBitmap("shared", std::max(w, shared.Width), std::max(h, shared.Height));
        for (int y = 0; y < h; ++y)
            std::fill_n(shared.Pixels.begin() + static_cast<std::ptrdiff_t>(y) * shared.Width, w,
                        kSkinTransparentKey);
        target = &shared;
    } else {
        fresh =
            TSkinBitmap("buffer", w, h, FPerformance == wspDoubleBuffer ? kSkinTransparentKey : 0u);
    }
    if (FTransparent && Parent() != nullptr) {
        const QColor c = kv::ui::colorToQColor(Parent()->Color());
        const std::uint32_t bg = SkinPixel(c.red(), c.green(), c.blue());
        for (int y = 0; y < h; ++y)
            std::fill_n(target->Pixels.begin() + static_cast<std::ptrdiff_t>(y) * target->Width, w,
                        bg);
    }
    {
        TSkinPaintTarget paint(*target, w, h);
        PaintBorder(paint);
        PaintClient(paint);
    }
    QImage out(w, h, QImage::Format_ARGB32);
    const bool blend = FBlending->Enabled && FPerformance != wspNoBuffer;
    const int opacity = std::clamp(FBlending->Opacity, 0, 255);
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            std::uint32_t p = target->Pixel(x, y);
            if (p == kSkinTransparentKey)
                p = 0;
            else if (blend)
                p = (p & 0x00FFFFFFu) |
                    (static_cast<std::uint32_t>(PixelAlpha(p) * opacity / 255) << 24);
            row[x] = p;
        }
    }
    return out;
}

void TSkinCustomControl::hostPaint(QPainter& Painter) {
    const QImage image = RenderImage();
    if (!image.isNull())
        Painter.drawImage(0, 0, image);
}

bool kv::skin::detail::skinControlClassesRegistered() {
    return registered;
}
