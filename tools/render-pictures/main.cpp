// render-pictures: draws SVG pictures into PNG files at their own size, exactly as the toolkit
// draws them in a window, for the Windows build, whose Qt has no SVG renderer.
//
//   render-pictures OUT_DIR SVG...     writes OUT_DIR/NAME.png for each NAME.svg
//
// Exit codes: 0 done, 1 a picture could not be read, drawn or written, 2 bad arguments.
#include "toolkit/ui/qt_graphics.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: render-pictures OUT_DIR SVG...\n");
        return 2;
    }
    // Pixels only: no display is needed (nor wanted at build time).
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "render-pictures: cannot make %s\n", argv[1]);
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        const QString source = QString::fromLocal8Bit(argv[i]);
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "render-pictures: cannot read %s\n", argv[i]);
            return 1;
        }
        const auto picture = kv::ui::PictureData::fromBytes(in.readAll(), source);
        const QSize size = picture ? picture->naturalSize() : QSize();
        if (!picture || !picture->isVector() || size.isEmpty()) {
            std::fprintf(stderr, "render-pictures: %s is not an SVG picture with a size\n",
                         argv[i]);
            return 1;
        }
        const QString target = out.filePath(QFileInfo(source).completeBaseName() + ".png");
        if (!picture->pixmap(size).toImage().save(target, "PNG")) {
            std::fprintf(stderr, "render-pictures: cannot write %s\n", qPrintable(target));
            return 1;
        }
    }
    return 0;
}
