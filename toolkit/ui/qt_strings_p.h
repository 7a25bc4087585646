// Private: TStrings views onto Qt widgets, so that a control's line list and what the widget
// shows are one and the same data (no copy to keep in sync).
#pragma once

#include "toolkit/Strings.h"

class QPlainTextEdit;
class QComboBox;

namespace kv::ui::internal {

// The lines of a plain-text editor: line i is text block i. The document always ends with a
// line break after the last line appended from code, so an empty last block is not a line; a
// last block that holds typed text is one.
class DocumentStrings : public TStrings {
public:
    explicit DocumentStrings(QPlainTextEdit* edit) : FEdit(edit) {}
    std::string ClassName() const override { return "TStrings"; }

    int Count() const override;
    std::string Get(int Index) const override;
    void Put(int Index, const std::string& S) override;
    void Insert(int Index, const std::string& S) override;
    void Delete(int Index) override;
    void Clear() override;
    int Add(const std::string& S) override;
    std::string Text() const override;
    void SetText(std::string_view Value) override;

    void Detach() { FEdit = nullptr; }

private:
    void checkIndex(int Index) const;
    QPlainTextEdit* FEdit;
};

// The item list of a drop-down combo box.
class ComboStrings : public TStrings {
public:
    explicit ComboStrings(QComboBox* combo) : FCombo(combo) {}
    std::string ClassName() const override { return "TStrings"; }

    int Count() const override;
    std::string Get(int Index) const override;
    void Put(int Index, const std::string& S) override;
    void Insert(int Index, const std::string& S) override;
    void Delete(int Index) override;
    void Clear() override;

    void Detach() { FCombo = nullptr; }

private:
    void checkIndex(int Index) const;
    QComboBox* FCombo;
};

} // namespace kv::ui::internal
