#include "toolkit/ui/qt_graphics.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImageReader>
#include <QPainter>
#include <QRawFont>
#include <array>
#include <cmath>
#include <mutex>

namespace kv::ui {

namespace {

// The Windows classic ("Windows Standard") scheme, indexed by system colour number.
constexpr std::array<std::uint32_t, 31> kClassicScheme = {
    0xD4D0C8, // 0 scroll bar
    0x3A6EA5, // 1 desktop
    0x0A246A, // 2 active caption
    0x808080, // 3 inactive caption
    0xD4D0C8, // 4 menu
    0xFFFFFF, // 5 window
    0x000000, // 6 window frame
    0x000000, // 7 menu text
    0x000000, // 8 window text
    0xFFFFFF, // 9 caption text
    0xD4D0C8, // 10 active border
    0xD4D0C8, // 11 inactive border
    0x808080, // 12 application workspace
    0x0A246A, // 13 highlight
    0xFFFFFF, // 14 highlight text
    0xD4D0C8, // 15 button face
    0x808080, // 16 button shadow
    0x808080, // 17 grey text
    0x000000, // 18 button text
    0xD4D0C8, // 19 inactive caption text
    0xFFFFFF, // 20 button highlight
    0x404040, // 21 3D dark shadow
    0xD4D0C8, // 22 3D light
    0x000000, // 23 info text
    0xFFFFE1, // 24 info background
    0x000000, // 25 (unused)
    0x000080, // 26 hot light
    0xA6CAF0, // 27 gradient active caption
    0xC0C0C0, // 28 gradient inactive caption
    0x316AC5, // 29 menu highlight
    0xD4D0C8, // 30 menu bar
};

std::mutex& searchMutex() {
    static std::mutex m;
    return m;
}
std::vector<QString>& searchPaths() {
    static std::vector<QString> paths;
    return paths;
}

} // namespace

bool isNoneColor(std::int32_t color) {
    return color == 0x1FFFFFFF;
}

QColor colorToQColor(std::int32_t color) {
    const auto value = static_cast<std::uint32_t>(color);
    if ((value & 0xFF000000u) == 0x80000000u) {
        const std::uint32_t index = value & 0xFFu;
        const std::uint32_t rgb = index < kClassicScheme.size() ? kClassicScheme[index] : 0;
        return QColor(static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                      static_cast<int>(rgb & 0xFF));
    }
    if ((value & 0xFF000000u) != 0)
        return QColor(0, 0, 0); // clNone, clDefault and other special values
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

QFont makeQFont(const std::string& name, int height, bool bold, bool italic, bool underline,
                bool strikeOut) {
    QFont font(QString::fromStdString(name));
    font.setStyleStrategy(QFont::PreferDefault);
    font.setHintingPreference(QFont::PreferFullHinting);
    int pixels = height < 0 ? -height : height;
    if (pixels == 0)
        pixels = 11;
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    font.setStrikeOut(strikeOut);
    if (height > 0) {
        // A positive height is the whole cell (ascent + descent): scale the em size down.
        const QFontMetrics metrics(font);
        const int cell = metrics.ascent() + metrics.descent();
        if (cell > 0 && cell != pixels)
            font.setPixelSize(std::max(1, pixels * pixels / cell));
    }
    return font;
}

ClassicMetrics classicMetrics(const QFont& font) {
    const QFontMetrics metrics(font);
    ClassicMetrics result{metrics.ascent(), metrics.descent()};
    const QRawFont raw = QRawFont::fromFont(font);
    const QByteArray os2 = raw.isValid() ? raw.fontTable("OS/2") : QByteArray();
    if (os2.size() < 78 || raw.unitsPerEm() <= 0)
        return result;
    auto u16 = [&os2](int offset) {
        return (static_cast<unsigned char>(os2[offset]) << 8) |
               static_cast<unsigned char>(os2[offset + 1]);
    };
    // The OS/2 values are in the units of the outline grid, which the 'head' table names. For a
    // face that Qt renders from bitmap strikes (Wine's MS Sans Serif) QRawFont reports the strike
    // size as units per em, which would put the baseline far below the line.
    const QByteArray head = raw.fontTable("head");
    double unitsPerEm = raw.unitsPerEm();
    if (head.size() >= 20) {
        const int fromHead =
            (static_cast<unsigned char>(head[18]) << 8) | static_cast<unsigned char>(head[19]);
        if (fromHead > 0)
            unitsPerEm = fromHead;
    }
    const double scale = raw.pixelSize() / unitsPerEm;
    const int ascent = static_cast<int>(std::lround(u16(74) * scale));
    const int descent = static_cast<int>(std::lround(u16(76) * scale));
    // Values far from the face's own metrics come from a table that does not fit: keep Qt's.
    if (ascent > 0 && ascent + descent <= 2 * metrics.height())
        result = {ascent, descent};
    return result;
}

void drawClassicLines(QPainter& painter, const QRect& rect, Qt::Alignment alignment,
                      const QString& text) {
    const QFontMetrics metrics(painter.font());
    const ClassicMetrics classic = classicMetrics(painter.font());
    const QStringList lines = text.split(QLatin1Char('\n'));
    const int total = static_cast<int>(lines.size()) * classic.Height();
    int top = rect.top();
    if (alignment & Qt::AlignVCenter)
        top += (rect.height() - total) / 2;
    else if (alignment & Qt::AlignBottom)
        top += rect.height() - total;
    for (const QString& line : lines) {
        int width = metrics.horizontalAdvance(line);
        // The substitute faces run a few pixels wider than the originals that fixed-size
        // layouts were measured with: a line slightly too wide is condensed to fit, not clipped.
        const bool condense = width > rect.width() && width * 100 <= rect.width() * 115;
        if (condense) {
            painter.save();
            QFont narrow = painter.font();
            narrow.setStretch(std::max(1, rect.width() * 100 / width));
            painter.setFont(narrow);
            width = std::min(rect.width(), QFontMetrics(narrow).horizontalAdvance(line));
        }
        int x = rect.left();
        if (alignment & Qt::AlignRight)
            x = rect.right() + 1 - width;
        else if (alignment & Qt::AlignHCenter)
            x = rect.left() + (rect.width() - width) / 2;
        painter.drawText(QPoint(x, top + classic.Ascent), line);
        if (condense)
            painter.restore();
        top += classic.Height();
    }
}

void frame3D(QPainter& painter, QRect& rect, const QColor& topLeft, const QColor& bottomRight,
             int width) {
    for (int i = 0; i < width && rect.width() > 0 && rect.height() > 0; ++i) {
        const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
        painter.fillRect(QRect(l, t, r - l, 1), topLeft); // top edge without its right end
        painter.fillRect(QRect(l, t, 1, b - t), topLeft); // left edge without its bottom end
        painter.fillRect(QRect(r, t, 1, b - t + 1), bottomRight);
        painter.fillRect(QRect(l, b, r - l + 1, 1), bottomRight);
        rect.adjust(1, 1, -1, -1);
    }
}

PictureData::PictureData() = default;
PictureData::~PictureData() = default;

std::shared_ptr<const PictureData> PictureData::fromBytes(const QByteArray& bytes,
                                                          const QString& hint) {
    auto data = std::make_shared<PictureData>();
    const bool svg = hint.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive) ||
                     hint.endsWith(QLatin1String(".svgz"), Qt::CaseInsensitive) ||
                     bytes.trimmed().startsWith("<svg") || bytes.trimmed().startsWith("<?xml");
    if (svg) {
        data->svg_ = loadVectorImage(bytes);
        if (!data->svg_)
            return nullptr;
        return data;
    }
    QPixmap pixmap;
    if (!pixmap.loadFromData(bytes))
        return nullptr;
    data->raster_ = pixmap;
    return data;
}

std::shared_ptr<const PictureData> PictureData::load(const std::string& name) {
    const QString file = findPictureFile(name);
    if (file.isEmpty())
        return nullptr;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return nullptr;
    return fromBytes(in.readAll(), file);
}

std::shared_ptr<const PictureData> PictureData::fromPixmap(const QPixmap& pixmap) {
    auto data = std::make_shared<PictureData>();
    data->raster_ = pixmap;
    return data;
}

namespace {

// The largest side of a picture's natural size. An SVG that declares more (or a size that is not
// a number) has none: drawing it at its own size would ask for a pixmap of any size at all.
constexpr qreal kMaxPictureSide = 32767;

QSize naturalPixels(const QSizeF& size) {
    if (!(size.width() > 0 && size.height() > 0 && size.width() <= kMaxPictureSide &&
          size.height() <= kMaxPictureSide))
        return {0, 0};
    return size.toSize();
}

} // namespace

QSize PictureData::naturalSize() const {
    if (svg_) {
        const QSize size = svg_->declaredSize();
        if (size.isValid() && !size.isEmpty())
            return naturalPixels(QSizeF(size));
        // The view box as given, not as a whole-pixel rectangle (whose width overflows for a
        // box wider than an int holds).
        return naturalPixels(svg_->viewBox());
    }
    return raster_.size();
}

QPixmap PictureData::pixmap(QSize size) const {
    if (size.isEmpty())
        return {};
    if (!svg_ && raster_.size() == size)
        return raster_;
    QPixmap result(size);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    draw(painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return result;
}

void PictureData::draw(QPainter& painter, const QRectF& target) const {
    if (svg_) {
        svg_->render(painter, target);
        return;
    }
    if (raster_.isNull())
        return;
    if (target.size() == QSizeF(raster_.size())) {
        painter.drawPixmap(target.topLeft(), raster_);
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(target, raster_, QRectF(raster_.rect()));
    painter.restore();
}

void addPictureSearchPath(const std::string& directory) {
    const std::lock_guard lock(searchMutex());
    searchPaths().push_back(QString::fromStdString(directory));
}

QString findPictureFile(const std::string& name) {
    if (name.empty())
        return {};
    const QString qname = QString::fromStdString(name);
    const QString resource = QStringLiteral(":/pictures/") + qname;
    if (QFile::exists(resource))
        return resource;
    if (qname.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        const QString rendered = resource.left(resource.size() - 4) + QLatin1String(".png");
        if (QFile::exists(rendered))
            return rendered;
    }
    {
        const std::lock_guard lock(searchMutex());
        for (const QString& dir : searchPaths()) {
            const QString candidate = QDir(dir).filePath(qname);
            if (QFileInfo(candidate).isFile())
                return candidate;
        }
    }
    if (QFileInfo(qname).isFile())
        return qname;
    return {};
}

} // namespace kv::ui

#include <QCoreApplication>
#include <QFontDatabase>

namespace kv::ui {

int registerToolkitFonts() {
    static bool done = false;
    if (done)
        return 0;
    done = true;
    QStringList dirs;
    const QString custom = qEnvironmentVariable("KELVORA_FONT_DIR");
    if (!custom.isEmpty())
        dirs << custom;
    dirs << QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("fonts"));
    // Where Debian's fonts-wine package installs its faces.
    dirs << QStringLiteral("/usr/share/wine/fonts");
    // Wine's tahomabd.ttf is marked bold but carries outlines of regular weight, so bold labels
    // would look regular. Without it Qt emboldens the regular face, which reads as bold.
    static const char* const files[] = {"tahoma.ttf", "ms_sans_serif.ttf"};
    int registered = 0;
    QStringList seen;
    for (const QString& dir : dirs) {
        for (const char* file : files) {
            const QString path = QDir(dir).filePath(QLatin1String(file));
            if (seen.contains(QLatin1String(file)) || !QFileInfo(path).isFile())
                continue;
            if (QFontDatabase::addApplicationFont(path) >= 0) {
                seen << QLatin1String(file);
                ++registered;
            }
        }
    }
    const QStringList families = QFontDatabase::families();
    for (const char* face : {"Tahoma", "MS Sans Serif"}) {
        if (!families.contains(QLatin1String(face), Qt::CaseInsensitive))
            QFont::insertSubstitution(QLatin1String(face), QStringLiteral("DejaVu Sans"));
    }
    return registered;
}

} // namespace kv::ui
