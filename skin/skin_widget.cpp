#include "skin/skin_widget_p.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace kv::skin::internal {

SkinWidget::SkinWidget(SkinWidgetHost* Host) : QWidget(nullptr), host_(Host) {
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, true);
}

void SkinWidget::paintEvent(QPaintEvent*) {
    if (host_ == nullptr)
        return;
    QPainter painter(this);
    host_->hostPaint(painter);
}

void SkinWidget::mousePressEvent(QMouseEvent* e) {
    if (host_ != nullptr)
        host_->hostMouseDown(e->button(), e->position().toPoint().x(), e->position().toPoint().y());
}

void SkinWidget::mouseDoubleClickEvent(QMouseEvent* e) {
    // A double click is a second press, as the classic controls take it.
    mousePressEvent(e);
}

void SkinWidget::mouseMoveEvent(QMouseEvent* e) {
    if (host_ == nullptr)
        return;
    const QPoint at = e->position().toPoint();
    // While a mouse button is held the widget keeps the mouse and Qt sends it no leave or enter
    // events. The classic controls still learn that the pointer left them and came back (the
    // toolkit's idle check looks at the control under the pointer, captured or not), so a
    // button pressed and dragged off loses its hot look, and gets it back when dragged back.
    if (e->buttons() != Qt::NoButton) {
        if (rect().contains(at))
            host_->hostMouseEnter();
        else
            host_->hostMouseLeave();
    }
    host_->hostMouseMove(at.x(), at.y());
}

void SkinWidget::mouseReleaseEvent(QMouseEvent* e) {
    if (host_ != nullptr)
        host_->hostMouseUp(e->button(), e->position().toPoint().x(), e->position().toPoint().y());
}

void SkinWidget::enterEvent(QEnterEvent*) {
    if (host_ != nullptr)
        host_->hostMouseEnter();
}

void SkinWidget::leaveEvent(QEvent*) {
    if (host_ != nullptr)
        host_->hostMouseLeave();
}

void SkinWidget::keyPressEvent(QKeyEvent* e) {
    if (host_ != nullptr && host_->hostKeyDown(e->key(), e->modifiers(), e->isAutoRepeat()))
        e->accept();
    else
        QWidget::keyPressEvent(e);
}

void SkinWidget::keyReleaseEvent(QKeyEvent* e) {
    if (host_ != nullptr && host_->hostKeyUp(e->key(), e->modifiers(), e->isAutoRepeat()))
        e->accept();
    else
        QWidget::keyReleaseEvent(e);
}

void SkinWidget::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    if (host_ != nullptr)
        host_->hostFocusChanged(true);
}

void SkinWidget::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    if (host_ != nullptr)
        host_->hostFocusChanged(false);
}

void SkinWidget::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    if (host_ != nullptr)
        host_->hostResized();
}

} // namespace kv::skin::internal
