#include "ui_test_support.h"

#include "toolkit/ui/Pictures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

namespace uitest {

void ensureApplication() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application->Initialize();
}

MessageBoxRecorder::MessageBoxRecorder() {
    FPrevious = TApplication::SetMessageBoxHook([this](const TMessageBoxRequest& r) {
        Boxes.push_back(r);
        return mrOk;
    });
}

MessageBoxRecorder::~MessageBoxRecorder() {
    TApplication::SetMessageBoxHook(FPrevious);
}

bool pumpUntil(const std::function<bool()>& Done, int TimeoutMs) {
    QDeadlineTimer deadline(TimeoutMs);
    while (!Done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return Done();
}

const std::string& pictureFolder() {
    static QTemporaryDir dir;
    static const std::string path = [] {
        ensureApplication();
        auto write = [](const QString& name, const QByteArray& bytes) {
            QFile f(QDir(dir.path()).filePath(name));
            f.open(QIODevice::WriteOnly);
            f.write(bytes);
        };
        write("red16.svg",
              "<svg xmlns='http://www.w3.org/2000/svg' width='16' height='16' "
              "viewBox='0 0 16 16'><rect width='16' height='16' fill='#ff0000'/></svg>");
        write("blue70.svg",
              "<svg xmlns='http://www.w3.org/2000/svg' width='70' height='70' "
              "viewBox='0 0 70 70'><rect width='70' height='70' fill='#0000ff'/></svg>");
        QImage green(8, 8, QImage::Format_RGB32);
        green.fill(QColor(0, 255, 0));
        green.save(QDir(dir.path()).filePath("green8.png"));
        AddPictureSearchPath(dir.path().toStdString());
        return dir.path().toStdString();
    }();
    return path;
}

} // namespace uitest
