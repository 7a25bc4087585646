// Panels, pictures, timers and the status bar.
#pragma once

#include "toolkit/Collection.h"
#include "toolkit/ui/Controls.h"
#include "toolkit/ui/Pictures.h"
#include "toolkit/ui/qt_widgets_p.h"

#include <memory>

class QTimer;

// A container with the classic bevels: an outer bevel, the border (BorderWidth, in the panel's
// colour), an inner bevel, each BevelWidth wide; the caption is drawn in one line inside them,
// vertically centred, aligned by Alignment. Aligned children share the area inside the bevels.
class TPanel : public TWinControl, private kv::ui::internal::WidgetHost {
public:
    explicit TPanel(TComponent* AOwner);
    ~TPanel() override;
    std::string ClassName() const override { return "TPanel"; }

    TBevelCut BevelInner() const { return FBevelInner; }
    void SetBevelInner(TBevelCut Value);
    TBevelCut BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TBevelCut Value);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int Value);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int Value);
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle Value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);

protected:
    void AdjustClientRect(int& ALeft, int& ATop, int& ARight, int& ABottom) const override;

private:
    void hostPaint(QPainter& Painter) override;
    void hostClicked() override;
    void changed();

    kv::ui::internal::PaintedWidget* FPanel;
    TBevelCut FBevelInner = bvNone;
    TBevelCut FBevelOuter = bvRaised;
    int FBevelWidth = 1;
    int FBorderWidth = 0;
    TBorderStyle FBorderStyle = bsNone;
    TAlignment FAlignment = taCenter;
};

// A picture control. AutoSize makes the control as large as its picture; Stretch scales the
// picture to the control (Proportional keeps its aspect ratio); Center centres an unstretched
// picture. Transparent makes the colour of a raster picture's bottom-left pixel see-through
// (pictures with an alpha channel are always drawn with it).
class TImage : public TControl, private kv::ui::internal::WidgetHost {
public:
    explicit TImage(TComponent* AOwner);
    ~TImage() override;
    std::string ClassName() const override { return "TImage"; }

    TPicture* Picture() const { return FPicture.get(); }
    void SetPicture(TPicture* Value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    bool Center() const { return FCenter; }
    void SetCenter(bool Value);
    bool Stretch() const { return FStretch; }
    void SetStretch(bool Value);
    bool Proportional() const { return FProportional; }
    void SetProportional(bool Value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);

protected:
    void Loaded() override;

private:
    void hostPaint(QPainter& Painter) override;
    void hostClicked() override;
    void pictureChanged();
    void adjustSize();

    kv::ui::internal::PaintedWidget* FImage;
    std::unique_ptr<TPicture> FPicture;
    bool FAutoSize = false;
    bool FCenter = false;
    bool FStretch = false;
    bool FProportional = false;
    bool FTransparent = false;
};

// A non-visual timer: OnTimer runs every Interval milliseconds while Enabled (and not before
// the layout it comes from has been read completely).
class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* AOwner);
    ~TTimer() override;
    std::string ClassName() const override { return "TTimer"; }

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    int Interval() const { return FInterval; }
    void SetInterval(int Value);

    TNotifyEvent OnTimer;

protected:
    void Loaded() override;

private:
    void update();
    std::unique_ptr<QTimer> FTimer;
    bool FEnabled = true;
    int FInterval = 1000;
};

// One section of a status bar: its text in a sunken box Width pixels wide.
class TStatusPanel : public TCollectionItem {
public:
    explicit TStatusPanel(TCollection* Collection) : TCollectionItem(Collection) {}
    std::string ClassName() const override { return "TStatusPanel"; }

    const std::string& Text() const { return FText; }
    void SetText(const std::string& Value);
    int Width() const { return FWidth; }
    void SetWidth(int Value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);

private:
    std::string FText;
    int FWidth = 50;
    TAlignment FAlignment = taLeftJustify;
};

// The status bar at the bottom of a window: the button-face strip with its Panels (or
// SimpleText when SimplePanel is set) and a size grip when the window can be resized.
class TStatusBar : public TWinControl, private kv::ui::internal::WidgetHost {
public:
    explicit TStatusBar(TComponent* AOwner);
    ~TStatusBar() override;
    std::string ClassName() const override { return "TStatusBar"; }

    bool SimplePanel() const { return FSimplePanel; }
    void SetSimplePanel(bool Value);
    const std::string& SimpleText() const { return FSimpleText; }
    void SetSimpleText(const std::string& Value);
    bool SizeGrip() const { return FSizeGrip; }
    void SetSizeGrip(bool Value);
    TCollection* Panels() const { return FPanels.get(); }
    TStatusPanel* Panel(int Index) const;

private:
    void hostPaint(QPainter& Painter) override;
    void hostClicked() override;

    kv::ui::internal::PaintedWidget* FBar;
    std::unique_ptr<TCollection> FPanels;
    bool FSimplePanel = false;
    std::string FSimpleText;
    bool FSizeGrip = true;
};
