// TMemoControl: the multi-line text control of the activity log.
//
// Lines is the control's own text seen as a TStrings: every change through Lines shows at once,
// and text the user types is in Lines at once (line i is the editor's text block i; there is no
// second copy to keep in sync, so appending to thousands of lines stays cheap). Appended lines
// each end with a line break; text typed after the last break counts as one more line.
#pragma once

#include "toolkit/Strings.h"
#include "toolkit/ui/Controls.h"

#include <memory>

class QPlainTextEdit;
namespace kv::ui::internal {
class DocumentStrings;
}

class TMemoControl : public TWinControl {
public:
    explicit TMemoControl(TComponent* AOwner);
    ~TMemoControl() override;
    std::string ClassName() const override { return "TMemoControl"; }

    TStrings* Lines() const;
    void SetLines(TStrings* Value);
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle Value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool Value);
    bool ReadOnly() const;
    void SetReadOnly(bool Value);
    void Clear();
    // Writes every line followed by CR LF (UTF-8 bytes; callers needing a code page convert).
    void SaveToFile(const std::string& FileName) const;

    TNotifyEvent OnChange;
    QPlainTextEdit* Editor() const { return FEditor; }

protected:
    std::string GetText() const override;
    void TextChanged() override;
    void ColorChanged() override;

private:
    void applyWrapAndBars();
    QPlainTextEdit* FEditor;
    std::unique_ptr<kv::ui::internal::DocumentStrings> FLines;
    TScrollStyle FScrollBars = ssNone;
    bool FWordWrap = true;
};
