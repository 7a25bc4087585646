#pragma once
// Keeps the user's hands off the window while an operation runs.
//
// The console's operations (start-up, service start and stop, attach, detach, check, rebuild)
// block the user-interface thread but let the window process its messages between two log lines,
// so without a guard a click on another action button would start an operation inside the
// running one, and "Kapat" would save a half-written log and close the window under it. While
// engaged, the guard swallows the mouse and keyboard input aimed at the guarded widgets (and
// their children); the buttons keep their enabled states, and clicks made from code still run.

#include <QObject>
#include <vector>

class QWidget;

namespace kv::console {

class UserInputGuard : public QObject {
public:
    UserInputGuard() = default;
    ~UserInputGuard() override;
    UserInputGuard(const UserInputGuard&) = delete;
    UserInputGuard& operator=(const UserInputGuard&) = delete;

    // The widgets whose input is swallowed while the guard is engaged.
    void guard(QWidget* Widget);

    void engage();
    void release();
    bool engaged() const { return FEngaged; }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    bool guarded(QObject* Receiver) const;

    std::vector<QWidget*> FWidgets;
    bool FEngaged = false;
};

} // namespace kv::console
