#include "toolkit/SysUtils.h"
#include "toolkit/ui/qt_strings_p.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

namespace kv::ui::internal {

namespace {

QString toQ(const std::string& s) {
    return QString::fromUtf8(s.data(), std::ssize(s));
}
std::string fromQ(const QString& s) {
    return s.toUtf8().toStdString();
}

// Line breaks of any platform become the editor's own.
QString normalizedBreaks(QString text) {
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

[[noreturn]] void indexError(int Index) {
    throw EStringListError("List index out of bounds (" + IntToStr(Index) + ")");
}

// Keeps the text of an editable combo box while its item list changes (Qt would otherwise copy
// the first item into an empty edit field).
class KeepComboText {
public:
    explicit KeepComboText(QComboBox* combo)
        : FCombo(combo), FText(combo->isEditable() ? combo->currentText() : QString()) {}
    ~KeepComboText() {
        if (FCombo->isEditable() && FCombo->currentText() != FText)
            FCombo->setEditText(FText);
    }
    KeepComboText(const KeepComboText&) = delete;
    KeepComboText& operator=(const KeepComboText&) = delete;

private:
    QComboBox* FCombo;
    QString FText;
};

} // namespace

int DocumentStrings::Count() const {
    if (!FEdit)
        return 0;
    const QTextDocument* doc = FEdit->document();
    const int blocks = doc->blockCount();
    return doc->lastBlock().length() <= 1 ? blocks - 1 : blocks;
}

void DocumentStrings::checkIndex(int Index) const {
    if (Index < 0 || Index >= Count())
        indexError(Index);
}

std::string DocumentStrings::Get(int Index) const {
    checkIndex(Index);
    return fromQ(FEdit->document()->findBlockByNumber(Index).text());
}

void DocumentStrings::Put(int Index, const std::string& S) {
    checkIndex(Index);
    const QTextBlock block = FEdit->document()->findBlockByNumber(Index);
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    cursor.insertText(normalizedBreaks(toQ(S)));
}

void DocumentStrings::Insert(int Index, const std::string& S) {
    if (Index == Count()) {
        Add(S);
        return;
    }
    checkIndex(Index);
    QTextCursor cursor(FEdit->document()->findBlockByNumber(Index));
    cursor.insertText(normalizedBreaks(toQ(S)) + QLatin1Char('\n'));
}

int DocumentStrings::Add(const std::string& S) {
    if (!FEdit)
        return -1;
    QTextDocument* doc = FEdit->document();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    QString text = normalizedBreaks(toQ(S)) + QLatin1Char('\n');
    if (doc->lastBlock().length() > 1)
        text.prepend(QLatin1Char('\n')); // typed text without a final line break is a line
    cursor.insertText(text);
    // Like the classic memo, an added line leaves the caret behind it and scrolls it into view,
    // so a log being written shows its newest line.
    FEdit->setTextCursor(cursor);
    FEdit->ensureCursorVisible();
    return Count() - 1;
}

void DocumentStrings::Delete(int Index) {
    checkIndex(Index);
    const QTextBlock block = FEdit->document()->findBlockByNumber(Index);
    QTextCursor cursor(block);
    const QTextBlock next = block.next();
    if (next.isValid()) {
        cursor.setPosition(next.position(), QTextCursor::KeepAnchor);
    } else if (Index > 0) {
        // The last line has no break of its own: take the one before it.
        cursor.setPosition(block.position() - 1);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    } else {
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
}

void DocumentStrings::Clear() {
    if (FEdit)
        FEdit->document()->setPlainText(QString());
}

std::string DocumentStrings::Text() const {
    if (!FEdit)
        return {};
    QString plain = FEdit->document()->toPlainText();
    if (plain.isEmpty())
        return {};
    if (!plain.endsWith(QLatin1Char('\n')))
        plain += QLatin1Char('\n');
    plain.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return fromQ(plain);
}

void DocumentStrings::SetText(std::string_view Value) {
    if (!FEdit)
        return;
    QString text = normalizedBreaks(QString::fromUtf8(Value.data(), std::ssize(Value)));
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    FEdit->document()->setPlainText(text);
}

int ComboStrings::Count() const {
    return FCombo ? FCombo->count() : 0;
}

void ComboStrings::checkIndex(int Index) const {
    if (Index < 0 || Index >= Count())
        indexError(Index);
}

std::string ComboStrings::Get(int Index) const {
    checkIndex(Index);
    return fromQ(FCombo->itemText(Index));
}

void ComboStrings::Put(int Index, const std::string& S) {
    checkIndex(Index);
    const KeepComboText keep(FCombo);
    FCombo->setItemText(Index, toQ(S));
}

void ComboStrings::Insert(int Index, const std::string& S) {
    if (Index < 0 || Index > Count())
        indexError(Index);
    const KeepComboText keep(FCombo);
    FCombo->insertItem(Index, toQ(S));
}

void ComboStrings::Delete(int Index) {
    checkIndex(Index);
    const KeepComboText keep(FCombo);
    FCombo->removeItem(Index);
}

void ComboStrings::Clear() {
    if (!FCombo)
        return;
    const KeepComboText keep(FCombo);
    FCombo->clear();
}

} // namespace kv::ui::internal
