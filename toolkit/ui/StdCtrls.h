// Labels, push buttons, edit fields and drop-down combo boxes.
#pragma once

#include "toolkit/ui/Controls.h"
#include "toolkit/ui/Pictures.h"
#include "toolkit/ui/qt_widgets_p.h"

#include <memory>

class QPushButton;
class QLineEdit;
class QComboBox;
namespace kv::ui::internal {
class EditWidget;
class ComboStrings;
} // namespace kv::ui::internal

// A text label. The caption may hold line breaks (CR LF, LF); "&x" marks an accelerator when
// ShowAccelChar is set ("&&" is a literal "&"). AutoSize fits the control to its text (lines x
// the font's line height; an empty caption is as wide as a blank); when the effective alignment
// is right-justified the right edge stays where it is. BiDiMode bdRightToLeft mirrors the
// alignment; it and bdRightToLeftNoAlign / bdRightToLeftReadingOnly ask for right-to-left
// reading, which Windows' DrawText gives only with a Hebrew or Arabic font (DT_RTLREADING): a
// label in a Latin font, as every label of the console, reads left to right ("Services :").
// A label that is not Transparent fills its rectangle with Color (the parent's by default).
class TLabel : public TControl, private kv::ui::internal::WidgetHost {
public:
    explicit TLabel(TComponent* AOwner);
    ~TLabel() override;
    std::string ClassName() const override { return "TLabel"; }

    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment Value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool Value);
    TTextLayout Layout() const { return FLayout; }
    void SetLayout(TTextLayout Value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool Value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool Value);
    bool ShowAccelChar() const { return FShowAccelChar; }
    void SetShowAccelChar(bool Value);
    TBiDiMode BiDiMode() const { return FBiDiMode; }
    void SetBiDiMode(TBiDiMode Value);

    // The alignment after right-to-left mirroring.
    TAlignment EffectiveAlignment() const;
    // Whether the caption is laid out right to left: BiDiMode asks for it and the font's
    // character set is Hebrew or Arabic (DEFAULT_CHARSET is the system's, Turkish here).
    bool ReadsRightToLeft() const;
    // The caption as drawn (accelerator marks removed, line breaks as LF).
    std::string DisplayText() const;

protected:
    void TextChanged() override;
    void FontChanged() override;
    void Loaded() override;

private:
    void hostPaint(QPainter& Painter) override;
    void hostClicked() override;
    void adjustBounds();

    kv::ui::internal::PaintedWidget* FLabel;
    TAlignment FAlignment = taLeftJustify;
    bool FAutoSize = true;
    TTextLayout FLayout = tlTop;
    bool FTransparent = false;
    bool FWordWrap = false;
    bool FShowAccelChar = true;
    TBiDiMode FBiDiMode = bdLeftToRight;
};

// A plain push button with an optional glyph left of the caption. Click() (from code or the
// user) first copies ModalResult to the parent form, then runs OnClick; from code this happens
// whatever the button's state (enabled, disabled, visible, hidden). Default: Enter on the form
// clicks it; Cancel: Esc clicks it.
class TButton : public TWinControl {
public:
    explicit TButton(TComponent* AOwner);
    ~TButton() override;
    std::string ClassName() const override { return "TButton"; }

    TPicture* Glyph() const { return FGlyph.get(); }
    void SetGlyph(TPicture* Value);
    TModalResult ModalResult() const { return FModalResult; }
    void SetModalResult(TModalResult Value) { FModalResult = Value; }
    bool Default() const { return FDefault; }
    void SetDefault(bool Value);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool Value) { FCancel = Value; }

    void Click() override;
    QPushButton* Button() const { return FButton; }

protected:
    void TextChanged() override;

private:
    void glyphChanged();
    QPushButton* FButton;
    std::unique_ptr<TPicture> FGlyph;
    TModalResult FModalResult = mrNone;
    bool FDefault = false;
    bool FCancel = false;
};

// A one-line edit field. PasswordChar (0: none) is shown for every character typed; MaxLength 0
// means no limit; AutoSelect selects the whole text when the field is entered with the keyboard.
class TEdit : public TWinControl {
public:
    explicit TEdit(TComponent* AOwner);
    ~TEdit() override;
    std::string ClassName() const override { return "TEdit"; }

    char PasswordChar() const { return FPasswordChar; }
    void SetPasswordChar(char Value);
    // PasswordChar as layouts write it: a one-character string, empty for none.
    std::string PasswordCharText() const;
    void SetPasswordCharText(const std::string& Value);
    int MaxLength() const { return FMaxLength; }
    void SetMaxLength(int Value);
    bool AutoSelect() const;
    void SetAutoSelect(bool Value);
    bool ReadOnly() const;
    void SetReadOnly(bool Value);
    void SelectAll();

    TNotifyEvent OnChange;
    QLineEdit* Edit() const;

protected:
    std::string GetText() const override;
    void TextChanged() override;
    void ColorChanged() override;

private:
    kv::ui::internal::EditWidget* FEdit;
    char FPasswordChar = 0;
    int FMaxLength = 0;
};

// A drop-down combo box: csDropDown (editable, the default) or csDropDownList (choice only).
// Items is the list shown when it opens (DropDownCount rows at a time); Text is the edit text.
class TComboBox : public TWinControl {
public:
    explicit TComboBox(TComponent* AOwner);
    ~TComboBox() override;
    std::string ClassName() const override { return "TComboBox"; }

    TStrings* Items() const;
    void SetItems(TStrings* Value);
    int DropDownCount() const { return FDropDownCount; }
    void SetDropDownCount(int Value);
    int ItemIndex() const;
    void SetItemIndex(int Value);
    TComboBoxStyle Style() const { return FStyle; }
    void SetStyle(TComboBoxStyle Value);

    TNotifyEvent OnChange;
    // Runs right before the list opens (the user or Combo()->showPopup()).
    TNotifyEvent OnDropDown;
    QComboBox* Combo() const { return FCombo; }

protected:
    std::string GetText() const override;
    void TextChanged() override;
    void ColorChanged() override;

private:
    QComboBox* FCombo;
    std::unique_ptr<kv::ui::internal::ComboStrings> FItems;
    int FDropDownCount = 8;
    TComboBoxStyle FStyle = csDropDown;
};
