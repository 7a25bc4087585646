#include "toolkit/ui/ExtCtrls.h"

#include "toolkit/ui/Application.h"
#include "toolkit/ui/Forms.h"
#include "toolkit/ui/qt_graphics.h"

#include <QBitmap>
#include <QPainter>
#include <QTimer>

using namespace kv::ui;
using kv::ui::internal::PaintedWidget;

namespace {

QString qtext(const std::string& s) {
    return QString::fromUtf8(s.data(), std::ssize(s));
}

Qt::Alignment horizontal(TAlignment a) {
    switch (a) {
    case taRightJustify:
        return Qt::AlignRight;
    case taCenter:
        return Qt::AlignHCenter;
    case taLeftJustify:
        break;
    }
    return Qt::AlignLeft;
}

} // namespace

// ----- TPanel --------------------------------------------------------------------------------

TPanel::TPanel(TComponent* AOwner) : TWinControl(AOwner) {
    Application->Initialize();
    FPanel = new PaintedWidget(this, nullptr);
    SetWidget(FPanel);
    SetBounds(0, 0, 185, 41);
    SetColor(clBtnFace);
}

TPanel::~TPanel() {
    FPanel->detach();
}

void TPanel::changed() {
    Invalidate();
    Realign();
}

void TPanel::SetBevelInner(TBevelCut Value) {
    FBevelInner = Value;
    changed();
}

void TPanel::SetBevelOuter(TBevelCut Value) {
    FBevelOuter = Value;
    changed();
}

void TPanel::SetBevelWidth(int Value) {
    FBevelWidth = std::max(1, Value);
    changed();
}

void TPanel::SetBorderWidth(int Value) {
    FBorderWidth = std::max(0, Value);
    changed();
}

void TPanel::SetBorderStyle(TBorderStyle Value) {
    FBorderStyle = Value;
    changed();
}

void TPanel::SetAlignment(TAlignment Value) {
    FAlignment = Value;
    Invalidate();
}

void TPanel::AdjustClientRect(int& ALeft, int& ATop, int& ARight, int& ABottom) const {
    int inset = FBorderWidth;
    if (FBevelOuter != bvNone)
        inset += FBevelWidth;
    if (FBevelInner != bvNone)
        inset += FBevelWidth;
    if (FBorderStyle == bsSingle)
        inset += 1;
    ALeft += inset;
    ATop += inset;
    ARight -= inset;
    ABottom -= inset;
}

void TPanel::hostPaint(QPainter& Painter) {
    QRect rect = FPanel->rect();
    const QColor face = colorToQColor(Color());
    const QColor highlight = colorToQColor(clBtnHighlight);
    const QColor shadow = colorToQColor(clBtnShadow);
    if (FBorderStyle == bsSingle)
        frame3D(Painter, rect, colorToQColor(clWindowFrame), colorToQColor(clWindowFrame), 1);
    auto bevel = [&](TBevelCut cut) {
        if (cut == bvNone)
            return;
        if (cut == bvSpace)
            frame3D(Painter, rect, face, face, FBevelWidth);
        else if (cut == bvRaised)
            frame3D(Painter, rect, highlight, shadow, FBevelWidth);
        else
            frame3D(Painter, rect, shadow, highlight, FBevelWidth);
    };
    bevel(FBevelOuter);
    frame3D(Painter, rect, face, face, FBorderWidth);
    bevel(FBevelInner);
    Painter.fillRect(rect, face);
    const std::string caption = Caption();
    if (caption.empty())
        return;
    Painter.setFont(FPanel->font());
    Painter.setPen(colorToQColor(Font()->Color()));
    Painter.drawText(rect,
                     static_cast<int>(horizontal(FAlignment) | Qt::AlignVCenter |
                                      Qt::TextSingleLine | Qt::TextExpandTabs),
                     qtext(caption));
}

void TPanel::hostClicked() {
    Application->HandleEvent(this, [this] { Click(); });
}

// ----- TImage --------------------------------------------------------------------------------

TImage::TImage(TComponent* AOwner) : TControl(AOwner), FPicture(std::make_unique<TPicture>()) {
    Application->Initialize();
    FImage = new PaintedWidget(this, nullptr);
    SetWidget(FImage);
    SetBounds(0, 0, 105, 105);
    FPicture->OnChange = [this](TObject*) { pictureChanged(); };
}

TImage::~TImage() {
    FImage->detach();
}

void TImage::SetPicture(TPicture* Value) {
    FPicture->Assign(Value);
}

void TImage::SetAutoSize(bool Value) {
    FAutoSize = Value;
    adjustSize();
}

void TImage::SetCenter(bool Value) {
    FCenter = Value;
    Invalidate();
}

void TImage::SetStretch(bool Value) {
    FStretch = Value;
    Invalidate();
}

void TImage::SetProportional(bool Value) {
    FProportional = Value;
    Invalidate();
}

void TImage::SetTransparent(bool Value) {
    FTransparent = Value;
    Invalidate();
}

void TImage::pictureChanged() {
    adjustSize();
    Invalidate();
}

void TImage::adjustSize() {
    if (!FAutoSize || FPicture->Empty() || IsLoading())
        return;
    SetBounds(Left(), Top(), FPicture->Width(), FPicture->Height());
}

void TImage::Loaded() {
    TControl::Loaded();
    adjustSize();
}

void TImage::hostPaint(QPainter& Painter) {
    const auto data = FPicture->Graphic();
    if (!data)
        return;
    const QSize area(Width(), Height());
    QSize size = data->naturalSize();
    if (FStretch) {
        size = FProportional ? size.scaled(area, Qt::KeepAspectRatio) : area;
    } else if (FProportional && (size.width() > area.width() || size.height() > area.height())) {
        size = size.scaled(area, Qt::KeepAspectRatio);
    }
    if (size.isEmpty())
        return;
    QPoint origin(0, 0);
    if (FCenter || (FStretch && FProportional))
        origin = QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2);
    QPixmap pixmap = data->pixmap(size);
    if (FTransparent && !data->isVector() && !pixmap.hasAlphaChannel()) {
        const QImage image = pixmap.toImage();
        const QColor key = image.pixelColor(0, image.height() - 1);
        pixmap.setMask(pixmap.createMaskFromColor(key, Qt::MaskInColor));
    }
    Painter.drawPixmap(origin, pixmap);
}

void TImage::hostClicked() {
    Application->HandleEvent(this, [this] { Click(); });
}

// ----- TTimer --------------------------------------------------------------------------------

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {
    Application->Initialize();
    FTimer = std::make_unique<QTimer>();
    QObject::connect(FTimer.get(), &QTimer::timeout, [this] {
        if (OnTimer)
            Application->HandleEvent(this, [this] { OnTimer(this); });
    });
    update();
}

TTimer::~TTimer() {
    FTimer->stop();
}

void TTimer::SetEnabled(bool Value) {
    FEnabled = Value;
    update();
}

void TTimer::SetInterval(int Value) {
    FInterval = std::max(0, Value);
    update();
}

void TTimer::Loaded() {
    TComponent::Loaded();
    update();
}

void TTimer::update() {
    FTimer->stop();
    if (FEnabled && FInterval > 0 && !ComponentState().Contains(csLoading))
        FTimer->start(FInterval);
}

// ----- TStatusBar ----------------------------------------------------------------------------

void TStatusPanel::SetText(const std::string& Value) {
    FText = Value;
    Changed(false);
}

void TStatusPanel::SetWidth(int Value) {
    FWidth = std::max(0, Value);
    Changed(true);
}

void TStatusPanel::SetAlignment(TAlignment Value) {
    FAlignment = Value;
    Changed(false);
}

TStatusBar::TStatusBar(TComponent* AOwner)
    : TWinControl(AOwner),
      FPanels(std::make_unique<TCollection>(
          [](TCollection* c) -> TCollectionItem* { return new TStatusPanel(c); }, this)) {
    Application->Initialize();
    FPanels->OnChange = [this](TObject*) { Invalidate(); };
    FBar = new PaintedWidget(this, nullptr);
    SetWidget(FBar);
    SetBounds(0, 0, 185, 19);
    SetColor(clBtnFace);
    SetAlign(alBottom);
}

TStatusBar::~TStatusBar() {
    FPanels->OnChange = nullptr;
    FBar->detach();
}

TStatusPanel* TStatusBar::Panel(int Index) const {
    return dynamic_cast<TStatusPanel*>(FPanels->Items(Index));
}

void TStatusBar::SetSimplePanel(bool Value) {
    FSimplePanel = Value;
    Invalidate();
}

void TStatusBar::SetSimpleText(const std::string& Value) {
    FSimpleText = Value;
    Invalidate();
}

void TStatusBar::SetSizeGrip(bool Value) {
    FSizeGrip = Value;
    Invalidate();
}

void TStatusBar::hostPaint(QPainter& Painter) {
    const QRect all = FBar->rect();
    Painter.fillRect(all, colorToQColor(Color()));
    Painter.setFont(FBar->font());
    Painter.setPen(colorToQColor(Font()->Color()));
    const int textFlags = static_cast<int>(Qt::AlignVCenter | Qt::TextSingleLine);
    if (FSimplePanel) {
        Painter.drawText(all.adjusted(4, 0, -4, 0), textFlags | Qt::AlignLeft, qtext(FSimpleText));
    } else {
        // Each panel: a sunken box two pixels below the top edge, two pixels apart.
        int x = 0;
        for (int i = 0; i < FPanels->Count(); ++i) {
            const TStatusPanel* panel = Panel(i);
            const bool last = i == FPanels->Count() - 1;
            const int w = last ? all.width() - x : panel->Width();
            QRect box(x, 2, std::max(0, w - 2), all.height() - 2);
            frame3D(Painter, box, colorToQColor(clBtnShadow), colorToQColor(clBtnHighlight), 1);
            Painter.setPen(colorToQColor(Font()->Color()));
            const int align = panel->Alignment() == taCenter         ? Qt::AlignHCenter
                              : panel->Alignment() == taRightJustify ? Qt::AlignRight
                                                                     : Qt::AlignLeft;
            Painter.drawText(box.adjusted(2, 0, -2, 0), textFlags | align, qtext(panel->Text()));
            x += w;
        }
    }
    const TForm* form = GetParentForm();
    const bool sizeable =
        form && (form->BorderStyle() == bsSizeable || form->BorderStyle() == bsSizeToolWin);
    if (FSizeGrip && sizeable) {
        // Three diagonal pairs of highlight and shadow lines in the bottom-right corner.
        const int r = all.right(), b = all.bottom();
        for (int i = 0; i < 3; ++i) {
            const int d = 4 * i + 2;
            Painter.setPen(colorToQColor(clBtnHighlight));
            Painter.drawLine(r - d - 1, b, r, b - d - 1);
            Painter.setPen(colorToQColor(clBtnShadow));
            Painter.drawLine(r - d, b, r, b - d);
            Painter.drawLine(r - d + 1, b, r, b - d + 1);
        }
    }
}

void TStatusBar::hostClicked() {
    Application->HandleEvent(this, [this] { Click(); });
}
