#include "toolkit/ui/qt_graphics.h"
#include "toolkit/ui/qt_widgets_p.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace kv::ui::internal {

PaintedWidget::PaintedWidget(WidgetHost* host, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), host_(host) {}

void PaintedWidget::paintEvent(QPaintEvent*) {
    if (!host_)
        return;
    QPainter painter(this);
    host_->hostPaint(painter);
}

void PaintedWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        pressed_ = true;
    QWidget::mousePressEvent(event);
}

void PaintedWidget::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click && host_)
        host_->hostClicked();
    else
        QWidget::mouseReleaseEvent(event);
}

void PaintedWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (host_)
        host_->hostResized();
}

void PaintedWidget::closeEvent(QCloseEvent* event) {
    if (host_ && !host_->hostCloseRequested())
        event->ignore();
    else
        event->accept();
}

void PaintedWidget::keyPressEvent(QKeyEvent* event) {
    if (host_ && host_->hostKey(event->key(), event->modifiers()))
        event->accept();
    else
        QWidget::keyPressEvent(event);
}

void PaintedWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (host_ && !event->spontaneous())
        host_->hostShown();
}

void PaintedWidget::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (host_ && !event->spontaneous())
        host_->hostHidden();
}

} // namespace kv::ui::internal

#include <QFocusEvent>
#include <QProxyStyle>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace kv::ui::internal {

namespace {

// Reports the chosen password character to the edit field that uses this style.
class PasswordStyle : public QProxyStyle {
public:
    explicit PasswordStyle(char c) : character_(c) {}
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter)
            return static_cast<unsigned char>(character_);
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }

private:
    char character_;
};

} // namespace

void ButtonWidget::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    painter.drawControl(QStyle::CE_PushButtonBevel, option);

    const QRect area = rect().adjusted(3, 3, -3, -3);
    const QSize glyph = icon().isNull() ? QSize() : iconSize();
    const int gap = glyph.isEmpty() || text().isEmpty() ? 0 : 4;
    int accelerator = -1;
    const QString shown = stripAccelerator(text(), &accelerator);
    // The caption has Windows' widths (classicTextWidth), so the layouts' captions fit. One in a
    // substitute face a little too wide for the fixed button is condensed, as with labels.
    int textWidth = classicTextWidth(font(), shown);
    const int room = area.width() - glyph.width() - gap;
    if (textWidth > room && room > 0 && textWidth * 100 <= room * 120) {
        QFont narrow = font();
        narrow.setStretch(std::max(1, room * 100 / textWidth));
        painter.setFont(narrow);
        textWidth = std::min(room, classicTextWidth(narrow, shown));
    }
    const int total = glyph.width() + gap + textWidth;
    int x = area.left() + std::max(0, (area.width() - total) / 2);
    const int shift = isDown() || isChecked() ? 1 : 0;
    if (!glyph.isEmpty()) {
        const QPixmap pixmap = icon().pixmap(glyph, isEnabled() ? QIcon::Normal : QIcon::Disabled);
        painter.drawPixmap(x + shift, area.top() + (area.height() - glyph.height()) / 2 + shift,
                           pixmap);
        x += glyph.width() + gap;
    }
    if (!shown.isEmpty()) {
        // One line centred on the font's classic line height, as DrawText's DT_VCENTER does.
        const ClassicMetrics line = classicMetrics(painter.font());
        const QPointF origin(x + shift, area.top() + (area.height() - line.Height()) / 2 +
                                            line.Ascent + shift);
        if (!style()->styleHint(QStyle::SH_UnderlineShortcut, &option, this))
            accelerator = -1;
        if (!isEnabled() && style()->styleHint(QStyle::SH_EtchDisabledText, &option, this)) {
            painter.setPen(palette().color(QPalette::Light));
            drawClassicText(painter, origin + QPointF(1, 1), shown, accelerator);
        }
        painter.setPen(palette().color(QPalette::ButtonText));
        drawClassicText(painter, origin, shown, accelerator);
    }
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = rect().adjusted(4, 4, -4, -4);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

void EditWidget::setPasswordCharacter(char c) {
    if (c == 0) {
        setEchoMode(QLineEdit::Normal);
        setStyle(nullptr);
        return;
    }
    auto* style = new PasswordStyle(c);
    style->setParent(this);
    setStyle(style);
    setEchoMode(QLineEdit::Password);
}

void EditWidget::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (!autoSelect && hasSelectedText())
        deselect();
}

} // namespace kv::ui::internal
