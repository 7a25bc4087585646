// render-pictures: draws SVG pictures into PNG files at their own size, exactly as the toolkit
// draws them in a window, for the Windows build, whose Qt has no SVG renderer; and the program's
// icon for Windows from one of them.
//
//   render-pictures OUT_DIR SVG...     writes OUT_DIR/NAME.png for each NAME.svg
//   render-pictures --icon OUT.ico SVG an icon with the picture at 16, 24, 32, 48 and 256 pixels
//
// Exit codes: 0 done, 1 a picture could not be read, drawn or written, 2 bad arguments.
#include "toolkit/ui/qt_graphics.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QtEndian>
#include <cstdio>
#include <memory>

namespace {

std::shared_ptr<const kv::ui::PictureData> loadSvg(const char* file) {
    const QString source = QString::fromLocal8Bit(file);
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "render-pictures: cannot read %s\n", file);
        return nullptr;
    }
    auto picture = kv::ui::PictureData::fromBytes(in.readAll(), source);
    if (!picture || !picture->isVector() || picture->naturalSize().isEmpty()) {
        std::fprintf(stderr, "render-pictures: %s is not an SVG picture with a size\n", file);
        return nullptr;
    }
    return picture;
}

// The icon file: a directory of images, each a whole PNG file (read by Windows Vista and later).
int writeIcon(const char* target, const char* svg) {
    const auto picture = loadSvg(svg);
    if (!picture)
        return 1;
    const int sizes[] = {16, 24, 32, 48, 256};
    QList<QByteArray> images;
    for (const int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        picture->pixmap(QSize(size, size)).toImage().save(&buffer, "PNG");
        images << png;
    }
    QByteArray icon;
    const auto put16 = [&](quint16 v) { icon.append(reinterpret_cast<const char*>(&v), 2); };
    const auto put32 = [&](quint32 v) { icon.append(reinterpret_cast<const char*>(&v), 4); };
    put16(qToLittleEndian<quint16>(0)); // reserved
    put16(qToLittleEndian<quint16>(1)); // an icon, not a cursor
    put16(qToLittleEndian<quint16>(static_cast<quint16>(images.size())));
    quint32 offset = 6 + 16 * static_cast<quint32>(images.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        const int size = sizes[i];
        icon.append(static_cast<char>(size >= 256 ? 0 : size)); // 0 means 256
        icon.append(static_cast<char>(size >= 256 ? 0 : size));
        icon.append('\0'); // no palette
        icon.append('\0');
        put16(qToLittleEndian<quint16>(1));  // planes
        put16(qToLittleEndian<quint16>(32)); // bits per pixel
        put32(qToLittleEndian<quint32>(static_cast<quint32>(images[i].size())));
        put32(qToLittleEndian<quint32>(offset));
        offset += static_cast<quint32>(images[i].size());
    }
    for (const QByteArray& png : images)
        icon += png;
    QFile out(QString::fromLocal8Bit(target));
    if (!out.open(QIODevice::WriteOnly) || out.write(icon) != icon.size()) {
        std::fprintf(stderr, "render-pictures: cannot write %s\n", target);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool icon = argc == 4 && qstrcmp(argv[1], "--icon") == 0;
    if (argc < 3 || (qstrcmp(argv[1], "--icon") == 0 && !icon)) {
        std::fprintf(stderr, "usage: render-pictures OUT_DIR SVG...\n"
                             "       render-pictures --icon OUT.ico SVG\n");
        return 2;
    }
    // Pixels only: no display is needed (nor wanted at build time).
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (icon)
        return writeIcon(argv[2], argv[3]);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "render-pictures: cannot make %s\n", argv[1]);
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        const auto picture = loadSvg(argv[i]);
        if (!picture)
            return 1;
        const QString target =
            out.filePath(QFileInfo(QString::fromLocal8Bit(argv[i])).completeBaseName() + ".png");
        if (!picture->pixmap(picture->naturalSize()).toImage().save(target, "PNG")) {
            std::fprintf(stderr, "render-pictures: cannot write %s\n", qPrintable(target));
            return 1;
        }
    }
    return 0;
}
