#include "toolkit/ui/Memo.h"

#include "toolkit/SysUtils.h"
#include "toolkit/ui/Application.h"
#include "toolkit/ui/qt_graphics.h"
#include "toolkit/ui/qt_strings_p.h"

#include <QPlainTextEdit>
#include <QTextDocument>
#include <fstream>

using namespace kv::ui;

TMemoControl::TMemoControl(TComponent* AOwner) : TWinControl(AOwner) {
    Application->Initialize();
    FEditor = new QPlainTextEdit();
    FEditor->setUndoRedoEnabled(false);
    FEditor->setFocusPolicy(Qt::StrongFocus);
    FEditor->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    FLines = std::make_unique<internal::DocumentStrings>(FEditor);
    QObject::connect(FEditor, &QPlainTextEdit::textChanged, [this] {
        if (OnChange)
            Application->HandleEvent(this, [this] { OnChange(this); });
    });
    SetWidget(FEditor);
    SetBounds(0, 0, 185, 89);
    SetTabStop(true);
    ColorChanged();
    applyWrapAndBars();
}

TMemoControl::~TMemoControl() {
    QObject::disconnect(FEditor, nullptr, nullptr, nullptr);
    FLines->Detach();
}

TStrings* TMemoControl::Lines() const {
    return FLines.get();
}

void TMemoControl::SetLines(TStrings* Value) {
    FLines->Assign(Value);
}

void TMemoControl::SetScrollBars(TScrollStyle Value) {
    FScrollBars = Value;
    applyWrapAndBars();
}

void TMemoControl::SetWordWrap(bool Value) {
    FWordWrap = Value;
    applyWrapAndBars();
}

void TMemoControl::applyWrapAndBars() {
    const bool horizontal = FScrollBars == ssHorizontal || FScrollBars == ssBoth;
    const bool vertical = FScrollBars == ssVertical || FScrollBars == ssBoth;
    FEditor->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn
                                                     : Qt::ScrollBarAlwaysOff);
    FEditor->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    // A horizontal scroll bar means long lines scroll instead of wrapping.
    FEditor->setLineWrapMode(FWordWrap && !horizontal ? QPlainTextEdit::WidgetWidth
                                                      : QPlainTextEdit::NoWrap);
}

bool TMemoControl::ReadOnly() const {
    return FEditor->isReadOnly();
}
void TMemoControl::SetReadOnly(bool Value) {
    FEditor->setReadOnly(Value);
}
void TMemoControl::Clear() {
    FLines->Clear();
}

void TMemoControl::SaveToFile(const std::string& FileName) const {
    std::ofstream out(FileName, std::ios::binary | std::ios::trunc);
    if (!out)
        throw EFilerError("Cannot create file \"" + FileName + "\"");
    const std::string text = FLines->Text();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out)
        throw EFilerError("Cannot write file \"" + FileName + "\"");
}

std::string TMemoControl::GetText() const {
    return FLines->Text();
}

void TMemoControl::TextChanged() {
    FLines->SetText(FText);
}

void TMemoControl::ColorChanged() {
    QPalette palette = FEditor->palette();
    palette.setColor(QPalette::Base, colorToQColor(Color()));
    FEditor->setPalette(palette);
}
