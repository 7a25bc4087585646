#include "toolkit/ui/StdCtrls.h"

#include "toolkit/ui/Application.h"
#include "toolkit/ui/Forms.h"
#include "toolkit/ui/qt_graphics.h"
#include "toolkit/ui/qt_strings_p.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QIcon>
#include <QItemDelegate>
#include <QPainter>
#include <QPushButton>
#include <climits>
#include <functional>

using namespace kv::ui;
using kv::ui::internal::PaintedWidget;

namespace {

QString qtext(const std::string& s) {
    return QString::fromUtf8(s.data(), std::ssize(s));
}
std::string stext(const QString& s) {
    return s.toUtf8().toStdString();
}

void setBaseColor(QWidget* Widget, TColor Color) {
    QPalette palette = Widget->palette();
    palette.setColor(QPalette::Base, colorToQColor(Color));
    Widget->setPalette(palette);
}

} // namespace

// ----- TLabel --------------------------------------------------------------------------------

TLabel::TLabel(TComponent* AOwner) : TControl(AOwner) {
    Application->Initialize();
    FLabel = new PaintedWidget(this, nullptr);
    SetWidget(FLabel);
    SetBounds(0, 0, 65, 17);
    SetColor(clBtnFace);
    SetParentColor(true);
}

TLabel::~TLabel() {
    FLabel->detach();
}

void TLabel::SetAlignment(TAlignment Value) {
    FAlignment = Value;
    Invalidate();
}

void TLabel::SetAutoSize(bool Value) {
    FAutoSize = Value;
    adjustBounds();
}

void TLabel::SetLayout(TTextLayout Value) {
    FLayout = Value;
    Invalidate();
}

void TLabel::SetTransparent(bool Value) {
    FTransparent = Value;
    FLabel->setAttribute(Qt::WA_TranslucentBackground, Value);
    Invalidate();
}

void TLabel::SetWordWrap(bool Value) {
    FWordWrap = Value;
    adjustBounds();
    Invalidate();
}

void TLabel::SetShowAccelChar(bool Value) {
    FShowAccelChar = Value;
    adjustBounds();
    Invalidate();
}

void TLabel::SetBiDiMode(TBiDiMode Value) {
    FBiDiMode = Value;
    adjustBounds();
    Invalidate();
}

TAlignment TLabel::EffectiveAlignment() const {
    if (FBiDiMode != bdRightToLeft || FAlignment == taCenter)
        return FAlignment;
    return FAlignment == taLeftJustify ? taRightJustify : taLeftJustify;
}

bool TLabel::ReadsRightToLeft() const {
    const TFontCharset charset = Font()->Charset();
    return FBiDiMode != bdLeftToRight && (charset == HEBREW_CHARSET || charset == ARABIC_CHARSET);
}

std::string TLabel::DisplayText() const {
    const std::string caption = Caption();
    std::string out;
    out.reserve(caption.size());
    for (size_t i = 0; i < caption.size(); ++i) {
        const char c = caption[i];
        if (c == '\r') {
            out += '\n';
            if (i + 1 < caption.size() && caption[i + 1] == '\n')
                ++i;
        } else if (c == '&' && FShowAccelChar) {
            if (i + 1 < caption.size() && caption[i + 1] == '&') {
                out += '&';
                ++i;
            }
        } else {
            out += c;
        }
    }
    return out;
}

void TLabel::TextChanged() {
    adjustBounds();
    Invalidate();
}

void TLabel::FontChanged() {
    TControl::FontChanged();
    adjustBounds();
}

void TLabel::Loaded() {
    TControl::Loaded();
    adjustBounds();
}

void TLabel::adjustBounds() {
    if (!FAutoSize || IsLoading())
        return;
    QString text = qtext(DisplayText());
    if (text.isEmpty())
        text = QStringLiteral(" ");
    const QFontMetrics metrics(FLabel->font());
    int width = 0, height = 0;
    if (FWordWrap) {
        const QRect r = metrics.boundingRect(QRect(0, 0, std::max(1, Width()), INT_MAX / 2),
                                             Qt::TextWordWrap | Qt::TextExpandTabs, text);
        width = r.width();
        const int lines = std::max(1, (r.height() + metrics.height() / 2) / metrics.height());
        height = lines * classicLineHeight(FLabel->font());
    } else {
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (const QString& line : lines)
            width = std::max(width, classicTextWidth(FLabel->font(),
                                                     line.isEmpty() ? QStringLiteral(" ") : line));
        height = static_cast<int>(lines.size()) * classicLineHeight(FLabel->font());
    }
    int left = Left();
    if (EffectiveAlignment() == taRightJustify)
        left += Width() - width;
    SetBounds(left, Top(), width, height);
}

void TLabel::hostPaint(QPainter& Painter) {
    const QRect rect = FLabel->rect();
    if (!FTransparent)
        Painter.fillRect(rect, colorToQColor(Color()));
    const QString text = qtext(DisplayText());
    if (text.isEmpty())
        return;
    Qt::Alignment align = Qt::AlignAbsolute;
    switch (EffectiveAlignment()) {
    case taLeftJustify:
        align |= Qt::AlignLeft;
        break;
    case taRightJustify:
        align |= Qt::AlignRight;
        break;
    case taCenter:
        align |= Qt::AlignHCenter;
        break;
    }
    align |= FLayout == tlCenter   ? Qt::AlignVCenter
             : FLayout == tlBottom ? Qt::AlignBottom
                                   : Qt::AlignTop;
    const int flags = static_cast<int>(align) | Qt::TextExpandTabs | Qt::TextWordWrap;
    Painter.setFont(FLabel->font());
    if (ReadsRightToLeft())
        Painter.setLayoutDirection(Qt::RightToLeft);
    auto draw = [&](const QRect& r) {
        if (FWordWrap)
            Painter.drawText(r, flags, text);
        else
            drawClassicLines(Painter, r, align, text);
    };
    if (Enabled()) {
        Painter.setPen(colorToQColor(Font()->Color()));
        draw(rect);
    } else {
        // Disabled text: embossed in the button highlight and shadow colours.
        Painter.setPen(colorToQColor(clBtnHighlight));
        draw(rect.translated(1, 1));
        Painter.setPen(colorToQColor(clBtnShadow));
        draw(rect);
    }
}

void TLabel::hostClicked() {
    Application->HandleEvent(this, [this] { Click(); });
}

// ----- TButton -------------------------------------------------------------------------------

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner), FGlyph(std::make_unique<TPicture>()) {
    Application->Initialize();
    FButton = new internal::ButtonWidget(nullptr);
    FButton->setAutoDefault(true);
    FButton->setFocusPolicy(Qt::StrongFocus);
    QObject::connect(FButton, &QPushButton::clicked,
                     [this] { Application->HandleEvent(this, [this] { Click(); }); });
    SetWidget(FButton);
    SetBounds(0, 0, 75, 25);
    SetTabStop(true);
    FGlyph->OnChange = [this](TObject*) { glyphChanged(); };
}

TButton::~TButton() {
    QObject::disconnect(FButton, nullptr, nullptr, nullptr);
}

void TButton::SetGlyph(TPicture* Value) {
    FGlyph->Assign(Value);
}

void TButton::SetDefault(bool Value) {
    FDefault = Value;
    FButton->setDefault(Value);
}

void TButton::Click() {
    if (TForm* form = GetParentForm())
        form->SetModalResult(FModalResult);
    TWinControl::Click();
}

void TButton::TextChanged() {
    FButton->setText(qtext(FText));
}

void TButton::glyphChanged() {
    const auto data = FGlyph->Graphic();
    if (!data) {
        FButton->setIcon(QIcon());
        return;
    }
    const QSize size = data->naturalSize();
    FButton->setIcon(QIcon(data->pixmap(size)));
    FButton->setIconSize(size);
}

// ----- TEdit ---------------------------------------------------------------------------------

TEdit::TEdit(TComponent* AOwner) : TWinControl(AOwner) {
    Application->Initialize();
    FEdit = new internal::EditWidget(nullptr);
    FEdit->setFocusPolicy(Qt::StrongFocus);
    FEdit->setMaxLength(32767);
    QObject::connect(FEdit, &QLineEdit::textChanged, [this] {
        if (OnChange)
            Application->HandleEvent(this, [this] { OnChange(this); });
    });
    SetWidget(FEdit);
    SetBounds(0, 0, 121, 21);
    SetTabStop(true);
    setBaseColor(FEdit, Color());
}

TEdit::~TEdit() {
    QObject::disconnect(FEdit, nullptr, nullptr, nullptr);
}

QLineEdit* TEdit::Edit() const {
    return FEdit;
}

void TEdit::SetPasswordChar(char Value) {
    FPasswordChar = Value;
    FEdit->setPasswordCharacter(Value);
}

void TEdit::SetMaxLength(int Value) {
    FMaxLength = std::max(0, Value);
    FEdit->setMaxLength(FMaxLength > 0 ? FMaxLength : 32767);
}

std::string TEdit::PasswordCharText() const {
    return FPasswordChar ? std::string(1, FPasswordChar) : std::string();
}

void TEdit::SetPasswordCharText(const std::string& Value) {
    SetPasswordChar(Value.empty() ? '\0' : Value[0]);
}

void TEdit::ColorChanged() {
    setBaseColor(FEdit, Color());
}

bool TEdit::AutoSelect() const {
    return FEdit->autoSelect;
}
void TEdit::SetAutoSelect(bool Value) {
    FEdit->autoSelect = Value;
}
bool TEdit::ReadOnly() const {
    return FEdit->isReadOnly();
}
void TEdit::SetReadOnly(bool Value) {
    FEdit->setReadOnly(Value);
}
void TEdit::SelectAll() {
    FEdit->selectAll();
}

std::string TEdit::GetText() const {
    return stext(FEdit->text());
}

void TEdit::TextChanged() {
    FEdit->setText(qtext(FText));
}

// ----- TComboBox -----------------------------------------------------------------------------

namespace {

// Tells the control before its list opens, so OnDropDown can fill the list first. An editable
// list opens as the classic one does (LB_FINDSTRING, then LB_SETCURSEL and LB_SETTOPINDEX): the
// first row that begins with the typed text, ignoring case, is highlighted and scrolled to the
// top; with no such row (or no text) nothing is highlighted.
class DropDownCombo final : public QComboBox {
public:
    std::function<void()> AboutToOpen;
    void showPopup() override {
        if (AboutToOpen)
            AboutToOpen();
        QComboBox::showPopup();
        if (!isEditable())
            return;
        const QString typed = currentText();
        const int row = typed.isEmpty() ? -1 : findText(typed, Qt::MatchStartsWith);
        const QModelIndex index =
            row >= 0 ? model()->index(row, modelColumn(), rootModelIndex()) : QModelIndex();
        view()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        if (index.isValid())
            view()->scrollTo(index, QAbstractItemView::PositionAtTop);
    }
};

// The rows of the drop-down list as the classic list box draws them: one line of the font high
// (its Windows ascent plus descent, 13 pixels for Tahoma at 11), the text at the row's top.
class ClassicRowDelegate final : public QItemDelegate {
public:
    using QItemDelegate::QItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QItemDelegate::sizeHint(option, index).width(), classicLineHeight(option.font)};
    }

protected:
    void drawDisplay(QPainter* painter, const QStyleOptionViewItem& option, const QRect& rect,
                     const QString& text) const override {
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        const QPalette::ColorGroup group =
            (option.state & QStyle::State_Enabled) != 0 ? QPalette::Normal : QPalette::Disabled;
        if (selected)
            painter->fillRect(rect, option.palette.brush(group, QPalette::Highlight));
        painter->save();
        painter->setFont(option.font);
        painter->setPen(
            option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setClipRect(rect);
        drawClassicText(*painter,
                        QPointF(rect.left() + 2, rect.top() + classicMetrics(option.font).Ascent),
                        text);
        painter->restore();
    }
};

} // namespace

TComboBox::TComboBox(TComponent* AOwner) : TWinControl(AOwner) {
    Application->Initialize();
    auto* combo = new DropDownCombo();
    combo->AboutToOpen = [this] {
        if (OnDropDown)
            Application->HandleEvent(this, [this] { OnDropDown(this); });
    };
    FCombo = combo;
    FCombo->setItemDelegate(new ClassicRowDelegate(FCombo));
    FCombo->setEditable(true);
    FCombo->setInsertPolicy(QComboBox::NoInsert);
    FCombo->setMaxVisibleItems(FDropDownCount);
    FCombo->setFocusPolicy(Qt::StrongFocus);
    FItems = std::make_unique<internal::ComboStrings>(FCombo);
    auto changed = [this] {
        if (OnChange)
            Application->HandleEvent(this, [this] { OnChange(this); });
    };
    QObject::connect(FCombo, &QComboBox::editTextChanged, changed);
    QObject::connect(FCombo, &QComboBox::currentIndexChanged, [this, changed] {
        if (!FCombo->isEditable())
            changed();
    });
    SetWidget(FCombo);
    SetBounds(0, 0, 145, 21);
    SetTabStop(true);
    setBaseColor(FCombo, Color());
}

TComboBox::~TComboBox() {
    QObject::disconnect(FCombo, nullptr, nullptr, nullptr);
    FItems->Detach();
}

TStrings* TComboBox::Items() const {
    return FItems.get();
}

void TComboBox::SetItems(TStrings* Value) {
    FItems->Assign(Value);
}

void TComboBox::SetDropDownCount(int Value) {
    FDropDownCount = std::max(1, Value);
    FCombo->setMaxVisibleItems(FDropDownCount);
}

int TComboBox::ItemIndex() const {
    return FCombo->currentIndex();
}

void TComboBox::SetItemIndex(int Value) {
    FCombo->setCurrentIndex(Value);
}

void TComboBox::SetStyle(TComboBoxStyle Value) {
    FStyle = Value;
    const std::string text = GetText();
    FCombo->setEditable(Value != csDropDownList);
    if (FCombo->isEditable())
        FCombo->setInsertPolicy(QComboBox::NoInsert);
    FText = text;
    TextChanged();
}

void TComboBox::ColorChanged() {
    setBaseColor(FCombo, Color());
}

std::string TComboBox::GetText() const {
    return stext(FCombo->currentText());
}

void TComboBox::TextChanged() {
    if (FCombo->isEditable())
        FCombo->setEditText(qtext(FText));
    else
        FCombo->setCurrentIndex(FCombo->findText(qtext(FText), Qt::MatchFixedString));
}
