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
