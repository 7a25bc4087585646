#include "console/copy_progress.h"

#include "console/Unit1.h"
#include "toolkit/ui/Memo.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProgressBar>
#include <QWidget>

namespace kv::console {

CopyProgressBar::CopyProgressBar(TForm1& Form) {
    QWidget* window = Form.Widget();
    if (window == nullptr)
        return;
    FBar = new QProgressBar(window);
    FBar->setRange(0, 1000);
    FBar->setValue(0);
    FBar->setTextVisible(true);
    FBar->setFormat("Dosya kopyalanıyor... %p%");
    // Along the lower edge of the log view.
    const TMemoControl* memo = Form.Memo1;
    const int height = 20;
    FBar->setGeometry(0, memo->Top() + memo->Height() - height, memo->Width(), height);
    FBar->show();
    FBar->raise();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

CopyProgressBar::~CopyProgressBar() {
    delete FBar;
}

platform::CopyProgress CopyProgressBar::callback() {
    return [this](std::uint64_t done, std::uint64_t total) { report(done, total); };
}

void CopyProgressBar::report(std::uint64_t done, std::uint64_t total) {
    if (FBar == nullptr)
        return;
    const int value = total == 0 ? 1000 : static_cast<int>(done * 1000 / total);
    if (value == FBar->value())
        return;
    FBar->setValue(value);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace kv::console
