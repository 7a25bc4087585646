// Private: the Qt widget behind the skinned controls. It forwards the events a skinned control
// handles to its host, so the controls need no meta-object code.
#pragma once

#include <QWidget>

namespace kv::skin::internal {

class SkinWidgetHost {
public:
    virtual void hostPaint(QPainter& Painter) = 0;
    virtual void hostMouseDown(Qt::MouseButton Button, int X, int Y) = 0;
    virtual void hostMouseMove(int X, int Y) = 0;
    virtual void hostMouseUp(Qt::MouseButton Button, int X, int Y) = 0;
    virtual void hostMouseEnter() = 0;
    virtual void hostMouseLeave() = 0;
    // True when the key was handled.
    virtual bool hostKeyDown(int Key, Qt::KeyboardModifiers Modifiers, bool AutoRepeat) = 0;
    virtual bool hostKeyUp(int Key, Qt::KeyboardModifiers Modifiers, bool AutoRepeat) = 0;
    virtual void hostFocusChanged(bool Focused) = 0;
    virtual void hostResized() = 0;

protected:
    ~SkinWidgetHost() = default;
};

class SkinWidget : public QWidget {
public:
    explicit SkinWidget(SkinWidgetHost* Host);
    void detach() { host_ = nullptr; }
    SkinWidgetHost* host() const { return host_; }

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void enterEvent(QEnterEvent* Event) override;
    void leaveEvent(QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void keyReleaseEvent(QKeyEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    SkinWidgetHost* host_;
};

} // namespace kv::skin::internal
