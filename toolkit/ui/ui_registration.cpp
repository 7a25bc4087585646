// The published properties of the visual classes, in the order layouts write them.
#include "toolkit/ClassBuilder.h"
#include "toolkit/UITypes.h"
#include "toolkit/ui/ExtCtrls.h"
#include "toolkit/ui/Forms.h"
#include "toolkit/ui/Memo.h"
#include "toolkit/ui/StdCtrls.h"
#include "toolkit/ui/ui_registration_p.h"

namespace kv::ui {

namespace {

using kv::toolkit::ClassBuilder;

void registerControls() {
    ClassBuilder<TControl>("TControl", "TComponent")
        .Abstract()
        .Integer("Left", &TControl::Left, &TControl::SetLeft)
        .Integer("Top", &TControl::Top, &TControl::SetTop)
        .Integer("Width", &TControl::Width, &TControl::SetWidth)
        .Integer("Height", &TControl::Height, &TControl::SetHeight)
        .Enum("Align", &kv::toolkit::AlignInfo, &TControl::Align, &TControl::SetAlign)
        .Default(alNone)
        .Color("Color", &TControl::Color, &TControl::SetColor)
        .StoredIf([](const TControl& c) { return !c.ParentColor(); })
        .Bool("Enabled", &TControl::Enabled, &TControl::SetEnabled)
        .Default(true)
        .Object("Font", &TControl::Font)
        .StoredIf([](const TControl& c) { return !c.ParentFont(); })
        .String("Hint", &TControl::Hint, &TControl::SetHint)
        .Bool("ParentColor", &TControl::ParentColor, &TControl::SetParentColor)
        .Bool("ParentFont", &TControl::ParentFont, &TControl::SetParentFont)
        .Default(true)
        .Bool("ShowHint", &TControl::ShowHint, &TControl::SetShowHint)
        .Default(false)
        .Bool("Visible", &TControl::Visible, &TControl::SetVisible)
        .Default(true)
        .Event("OnClick", &TControl::OnClick);
    ClassBuilder<TWinControl>("TWinControl", "TControl")
        .Abstract()
        .Integer("TabOrder", &TWinControl::TabOrder, &TWinControl::SetTabOrder)
        .Bool("TabStop", &TWinControl::TabStop, &TWinControl::SetTabStop);
}

void registerForm() {
    ClassBuilder<TForm>("TForm", "TWinControl")
        .Set("BorderIcons", &kv::toolkit::BorderIconInfo, &TForm::BorderIcons,
             &TForm::SetBorderIcons)
        .Enum("BorderStyle", &kv::toolkit::BorderStyleInfo, &TForm::BorderStyle,
              &TForm::SetBorderStyle)
        .Default(bsSizeable)
        .String("Caption", &TForm::Caption, &TForm::SetCaption)
        .Integer("ClientHeight", &TForm::ClientHeight, &TForm::SetClientHeight)
        .Integer("ClientWidth", &TForm::ClientWidth, &TForm::SetClientWidth)
        .Bool("KeyPreview", &TForm::KeyPreview, &TForm::SetKeyPreview)
        .Default(false)
        .Bool("OldCreateOrder", &TForm::OldCreateOrder, &TForm::SetOldCreateOrder)
        .Default(false)
        .Enum("Position", &kv::toolkit::PositionInfo, &TForm::Position, &TForm::SetPosition)
        .Default(poDesigned)
        .Component("ActiveControl", &TForm::ActiveControl, &TForm::SetActiveControl)
        .Event("OnClose", &TForm::OnClose)
        .Event("OnCloseQuery", &TForm::OnCloseQuery)
        .Event("OnCreate", &TForm::OnCreate)
        .Event("OnDestroy", &TForm::OnDestroy)
        .Event("OnHide", &TForm::OnHide)
        .Event("OnShow", &TForm::OnShow)
        .Integer("PixelsPerInch", &TForm::PixelsPerInch, &TForm::SetPixelsPerInch)
        .Integer("TextHeight", &TForm::TextHeight, &TForm::SetTextHeight);
}

void registerStandard() {
    ClassBuilder<TPanel>("TPanel", "TWinControl")
        .Enum("Alignment", &kv::toolkit::AlignmentInfo, &TPanel::Alignment, &TPanel::SetAlignment)
        .Default(taCenter)
        .Enum("BevelInner", &kv::toolkit::BevelCutInfo, &TPanel::BevelInner, &TPanel::SetBevelInner)
        .Default(bvNone)
        .Enum("BevelOuter", &kv::toolkit::BevelCutInfo, &TPanel::BevelOuter, &TPanel::SetBevelOuter)
        .Default(bvRaised)
        .Integer("BevelWidth", &TPanel::BevelWidth, &TPanel::SetBevelWidth)
        .Default(1)
        .Enum("BorderStyle", &kv::toolkit::BorderStyleInfo, &TPanel::BorderStyle,
              &TPanel::SetBorderStyle)
        .Default(bsNone)
        .Integer("BorderWidth", &TPanel::BorderWidth, &TPanel::SetBorderWidth)
        .Default(0)
        .String("Caption", &TPanel::Caption, &TPanel::SetCaption);

    ClassBuilder<TLabel>("TLabel", "TControl")
        .Enum("Alignment", &kv::toolkit::AlignmentInfo, &TLabel::Alignment, &TLabel::SetAlignment)
        .Default(taLeftJustify)
        .Bool("AutoSize", &TLabel::AutoSize, &TLabel::SetAutoSize)
        .Default(true)
        .Enum("BiDiMode", &kv::toolkit::BiDiModeInfo, &TLabel::BiDiMode, &TLabel::SetBiDiMode)
        .Default(bdLeftToRight)
        .String("Caption", &TLabel::Caption, &TLabel::SetCaption)
        .Enum("Layout", &kv::toolkit::TextLayoutInfo, &TLabel::Layout, &TLabel::SetLayout)
        .Default(tlTop)
        .Bool("ShowAccelChar", &TLabel::ShowAccelChar, &TLabel::SetShowAccelChar)
        .Default(true)
        .Bool("Transparent", &TLabel::Transparent, &TLabel::SetTransparent)
        .Default(false)
        .Bool("WordWrap", &TLabel::WordWrap, &TLabel::SetWordWrap)
        .Default(false);

    ClassBuilder<TPicture>("TPicture", "TPersistent")
        .String("Name", &TPicture::Name, &TPicture::SetName);

    ClassBuilder<TImage>("TImage", "TControl")
        .Bool("AutoSize", &TImage::AutoSize, &TImage::SetAutoSize)
        .Default(false)
        .Bool("Center", &TImage::Center, &TImage::SetCenter)
        .Default(false)
        .Object("Picture", &TImage::Picture)
        .Bool("Proportional", &TImage::Proportional, &TImage::SetProportional)
        .Default(false)
        .Bool("Stretch", &TImage::Stretch, &TImage::SetStretch)
        .Default(false)
        .Bool("Transparent", &TImage::Transparent, &TImage::SetTransparent)
        .Default(false);

    ClassBuilder<TImageList>("TImageList", "TComponent")
        .Integer("Height", &TImageList::Height, &TImageList::SetHeight)
        .Default(16)
        .Integer("Width", &TImageList::Width, &TImageList::SetWidth)
        .Default(16)
        .Object("Pictures", &TImageList::Pictures);

    ClassBuilder<TTimer>("TTimer", "TComponent")
        .Bool("Enabled", &TTimer::Enabled, &TTimer::SetEnabled)
        .Default(true)
        .Integer("Interval", &TTimer::Interval, &TTimer::SetInterval)
        .Default(1000)
        .Event("OnTimer", &TTimer::OnTimer);

    ClassBuilder<TStatusPanel>("TStatusPanel", "TCollectionItem")
        .Enum("Alignment", &kv::toolkit::AlignmentInfo, &TStatusPanel::Alignment,
              &TStatusPanel::SetAlignment)
        .Default(taLeftJustify)
        .String("Text", &TStatusPanel::Text, &TStatusPanel::SetText)
        .Integer("Width", &TStatusPanel::Width, &TStatusPanel::SetWidth)
        .Default(50);
    ClassBuilder<TStatusBar>("TStatusBar", "TWinControl")
        .Object("Panels", &TStatusBar::Panels)
        .Bool("SimplePanel", &TStatusBar::SimplePanel, &TStatusBar::SetSimplePanel)
        .Default(false)
        .String("SimpleText", &TStatusBar::SimpleText, &TStatusBar::SetSimpleText)
        .Bool("SizeGrip", &TStatusBar::SizeGrip, &TStatusBar::SetSizeGrip)
        .Default(true);

    ClassBuilder<TMemoControl>("TMemoControl", "TWinControl")
        .Object("Lines", &TMemoControl::Lines)
        .Bool("ReadOnly", &TMemoControl::ReadOnly, &TMemoControl::SetReadOnly)
        .Default(false)
        .Enum("ScrollBars", &kv::toolkit::ScrollStyleInfo, &TMemoControl::ScrollBars,
              &TMemoControl::SetScrollBars)
        .Default(ssNone)
        .Bool("WordWrap", &TMemoControl::WordWrap, &TMemoControl::SetWordWrap)
        .Default(true)
        .Event("OnChange", &TMemoControl::OnChange);

    ClassBuilder<TButton>("TButton", "TWinControl")
        .Bool("Cancel", &TButton::Cancel, &TButton::SetCancel)
        .Default(false)
        .String("Caption", &TButton::Caption, &TButton::SetCaption)
        .Bool("Default", &TButton::Default, &TButton::SetDefault)
        .Default(false)
        .Object("Glyph", &TButton::Glyph)
        .Integer("ModalResult", &TButton::ModalResult, &TButton::SetModalResult)
        .Idents(ModalResultIdents())
        .Default(mrNone);

    ClassBuilder<TEdit>("TEdit", "TWinControl")
        .Bool("AutoSelect", &TEdit::AutoSelect, &TEdit::SetAutoSelect)
        .Default(true)
        .Integer("MaxLength", &TEdit::MaxLength, &TEdit::SetMaxLength)
        .Default(0)
        .String("PasswordChar", &TEdit::PasswordCharText, &TEdit::SetPasswordCharText)
        .Bool("ReadOnly", &TEdit::ReadOnly, &TEdit::SetReadOnly)
        .Default(false)
        .String("Text", &TEdit::Text, &TEdit::SetText)
        .Event("OnChange", &TEdit::OnChange);

    ClassBuilder<TComboBox>("TComboBox", "TWinControl")
        .Integer("DropDownCount", &TComboBox::DropDownCount, &TComboBox::SetDropDownCount)
        .Default(8)
        .Object("Items", &TComboBox::Items)
        .Enum("Style", &kv::toolkit::ComboBoxStyleInfo, &TComboBox::Style, &TComboBox::SetStyle)
        .Default(csDropDown)
        .String("Text", &TComboBox::Text, &TComboBox::SetText)
        .Event("OnChange", &TComboBox::OnChange)
        .Event("OnDropDown", &TComboBox::OnDropDown);
}

} // namespace

void registerUIClasses() {
    static const bool done = [] {
        registerControls();
        registerForm();
        registerStandard();
        return true;
    }();
    (void)done;
}

} // namespace kv::ui
