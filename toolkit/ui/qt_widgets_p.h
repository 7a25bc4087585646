// Private: the Qt widget classes behind the toolkit's controls. Each forwards the few Qt events
// a control cares about to its owning control through WidgetHost, so the controls need no
// meta-object code (no Q_OBJECT, no moc).
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>

class QPainter;

namespace kv::ui::internal {

class WidgetHost {
public:
    virtual void hostPaint(QPainter& painter) { (void)painter; }
    virtual void hostClicked() {}
    virtual void hostResized() {}
    // A form's close box or close(): false keeps the window open.
    virtual bool hostCloseRequested() { return true; }
    // Unhandled key of a form (Enter/Esc reach the form when the focused control ignores them).
    virtual bool hostKey(int key, Qt::KeyboardModifiers modifiers) {
        (void)key;
        (void)modifiers;
        return false;
    }
    virtual void hostShown() {}
    virtual void hostHidden() {}

protected:
    ~WidgetHost() = default;
};

// A control that paints itself (panel, label, image, status bar) or a form's client area.
class PaintedWidget : public QWidget {
public:
    PaintedWidget(WidgetHost* host, QWidget* parent, Qt::WindowFlags flags = {});
    void detach() { host_ = nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    WidgetHost* host_;
    bool pressed_ = false;
};

// A push button that lays out its glyph and caption like the classic glyph buttons: the pair
// centred as one block with small margins (the glyph at its own size, 4 pixels before the
// caption), the content shifted by one pixel while pressed.
class ButtonWidget : public QPushButton {
public:
    explicit ButtonWidget(QWidget* parent) : QPushButton(parent) {}

protected:
    void paintEvent(QPaintEvent* event) override;
};

// An edit field that can keep its text unselected when entered with Tab (Qt selects it).
class EditWidget : public QLineEdit {
public:
    explicit EditWidget(QWidget* parent) : QLineEdit(parent) {}
    bool autoSelect = true;
    // Shows this character for every character typed (0: plain text).
    void setPasswordCharacter(char c);

protected:
    void focusInEvent(QFocusEvent* event) override;
};

} // namespace kv::ui::internal
