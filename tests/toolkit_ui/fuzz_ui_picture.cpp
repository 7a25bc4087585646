// Fuzz target: the picture loader behind layouts, images, image lists and button glyphs. Byte 0
// picks the file name the bytes are loaded under (its extension chooses SVG or a raster format)
// and a size to draw at; what loads is drawn at its own size (within reason) and at that size.
#include "toolkit/ui/qt_graphics.h"

#include <QApplication>
#include <QByteArray>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

// fontconfig keeps its configuration caches for the life of the process (as in the offscreen
// tests, lsan.supp); the leak check would report them after the first font look-up.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static QApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    static const char* const kNames[] = {"logo.svg", "glyph.png", "glyph.bmp", "picture"};
    const QString name = QString::fromLatin1(kNames[data[0] & 3]);
    const QByteArray bytes(reinterpret_cast<const char*>(data) + 1, static_cast<int>(size - 1));
    const auto picture = kv::ui::PictureData::fromBytes(bytes, name);
    if (!picture)
        return 0;
    const QSize natural = picture->naturalSize();
    const int side = 1 + (data[0] >> 2);
    (void)picture->pixmap(QSize(side, side));
    (void)picture->pixmap(
        QSize(std::clamp(natural.width(), 1, 256), std::clamp(natural.height(), 1, 256)));
    QPixmap target(40, 30);
    QPainter painter(&target);
    picture->draw(painter, QRectF(-3, 2, 50, 20));
    return 0;
}
