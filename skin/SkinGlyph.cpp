#include "skin/SkinGlyph.h"

#include "toolkit/ui/Pictures.h"
#include "toolkit/ui/qt_graphics.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace kv::skin {

QImage GlyphImage(const TPicture& Glyph) {
    const auto data = Glyph.Graphic();
    if (!data)
        return {};
    const QSize size = data->naturalSize();
    if (size.isEmpty())
        return {};
    return data->pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage GlyphCell(const QImage& Glyph, int NumGlyphs, int Index, GlyphLook Look) {
    if (Glyph.isNull() || NumGlyphs < 1)
        return {};
    const int cellW = Glyph.width() / NumGlyphs;
    if (cellW <= 0)
        return {};
    const QRgb transparent = Glyph.pixel(0, Glyph.height() - 1);
    QImage cell = Glyph.copy(cellW * std::clamp(Index, 0, NumGlyphs - 1), 0, cellW, Glyph.height());
    for (int y = 0; y < cell.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(cell.scanLine(y));
        for (int x = 0; x < cell.width(); ++x) {
            const QRgb p = row[x];
            if (p == transparent) {
                row[x] = 0;
                continue;
            }
            if (Look == GlyphLook::Normal)
                continue;
            const int mx = std::max({qRed(p), qGreen(p), qBlue(p)});
            const int mn = std::min({qRed(p), qGreen(p), qBlue(p)});
            int grey = (mx + mn) / 2;
            if (Look == GlyphLook::DarkGreys)
                grey = grey * 2 / 3;
            row[x] = qRgba(grey, grey, grey, qAlpha(p));
        }
    }
    return cell;
}

QImage KindGlyph(int Kind) {
    QImage image(32, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (int cell = 0; cell < 2; ++cell) {
        const bool disabled = cell == 1;
        const auto colour = [disabled](QColor c) { return disabled ? QColor(128, 128, 128) : c; };
        p.save();
        p.translate(16 * cell, 0);
        QPen pen(colour(QColor(0, 128, 0)), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        switch (Kind) {
        case 1:  // OK
        case 10: // All
        {
            QPainterPath tick;
            tick.moveTo(3, 8);
            tick.lineTo(6.5, 12);
            tick.lineTo(13, 4);
            p.setPen(pen);
            p.drawPath(tick);
            break;
        }
        case 2: // Cancel
        case 5: // No
        case 7: // Abort
            pen.setColor(colour(QColor(200, 0, 0)));
            p.setPen(pen);
            p.drawLine(QPointF(4, 4), QPointF(12, 12));
            p.drawLine(QPointF(12, 4), QPointF(4, 12));
            break;
        case 3: // Help
            p.setPen(QPen(colour(QColor(0, 0, 160))));
            p.setFont(QFont(QStringLiteral("DejaVu Sans"), 9, QFont::Bold));
            p.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QStringLiteral("?"));
            break;
        case 4: // Yes
            pen.setColor(colour(QColor(0, 128, 0)));
            p.setPen(pen);
            p.drawLine(QPointF(3, 8), QPointF(6.5, 12));
            p.drawLine(QPointF(6.5, 12), QPointF(13, 4));
            break;
        case 6: // Close
            p.setPen(QPen(colour(QColor(128, 0, 0)), 1.2));
            p.drawRect(QRectF(3.5, 2.5, 7, 11));
            p.drawLine(QPointF(10, 8), QPointF(14, 8));
            break;
        default: // Retry, Ignore
            p.setPen(QPen(colour(QColor(0, 0, 160)), 1.8));
            p.drawArc(QRectF(3, 3, 10, 10), 30 * 16, 300 * 16);
            break;
        }
        p.restore();
    }
    return image;
}

} // namespace kv::skin
