#include "console/input_guard.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <algorithm>

namespace kv::console {

UserInputGuard::~UserInputGuard() {
    release();
}

void UserInputGuard::guard(QWidget* Widget) {
    if (Widget != nullptr)
        FWidgets.push_back(Widget);
}

void UserInputGuard::engage() {
    if (FEngaged)
        return;
    FEngaged = true;
    qApp->installEventFilter(this);
}

void UserInputGuard::release() {
    if (!FEngaged)
        return;
    FEngaged = false;
    if (qApp != nullptr)
        qApp->removeEventFilter(this);
}

bool UserInputGuard::guarded(QObject* Receiver) const {
    for (auto* widget = qobject_cast<QWidget*>(Receiver); widget != nullptr;
         widget = widget->parentWidget())
        if (std::find(FWidgets.begin(), FWidgets.end(), widget) != FWidgets.end())
            return true;
    return false;
}

bool UserInputGuard::eventFilter(QObject* Watched, QEvent* Event) {
    switch (Event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
        if (guarded(Watched))
            return true;
        break;
    default:
        break;
    }
    return QObject::eventFilter(Watched, Event);
}

} // namespace kv::console
