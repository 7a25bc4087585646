#include "toolkit/ui/qt_graphics.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QImageReader>
#include <QPainter>
#include <QRawFont>
#include <array>
#include <cmath>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

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
    const ClassicMetrics classic = classicMetrics(painter.font());
    const QStringList lines = text.split(QLatin1Char('\n'));
    const int total = static_cast<int>(lines.size()) * classic.Height();
    int top = rect.top();
    if (alignment & Qt::AlignVCenter)
        top += (rect.height() - total) / 2;
    else if (alignment & Qt::AlignBottom)
        top += rect.height() - total;
    for (const QString& line : lines) {
        int width = classicTextWidth(painter.font(), line);
        // A substitute face (DejaVu Sans where Tahoma is missing) runs a few pixels wider than
        // the face the fixed-size layouts were measured with: a line slightly too wide is
        // condensed to fit, not clipped. Tahoma's lines have Windows' widths and always fit.
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
        drawClassicText(painter, QPointF(x, top + classic.Ascent), line);
        if (condense)
            painter.restore();
        top += classic.Height();
    }
}

namespace {

// The files whose design widths give a family's classic widths, by lower-case family name.
struct MetricFace {
    QByteArray Regular;
    QByteArray Bold;
};
std::map<QString, MetricFace>& metricFaces() {
    static std::map<QString, MetricFace> faces;
    return faces;
}

// The metric face of a family at a pixel size (made once), nullptr when the family has none.
// `bold` asks for the bold file; without one the regular file answers and `boldWidths` is false.
const QRawFont* metricFont(const QString& family, bool bold, int pixels, bool& boldWidths) {
    const auto face = metricFaces().find(family.toLower());
    if (face == metricFaces().end())
        return nullptr;
    boldWidths = bold && !face->second.Bold.isEmpty();
    // Never destroyed: a font engine must not outlive Qt's font database at program exit.
    static auto* cache = new std::map<std::tuple<QString, bool, int>, QRawFont>();
    const auto key = std::make_tuple(face->first, boldWidths, pixels);
    auto found = cache->find(key);
    if (found == cache->end())
        found = cache
                    ->emplace(key, QRawFont(boldWidths ? face->second.Bold : face->second.Regular,
                                            pixels, QFont::PreferNoHinting))
                    .first;
    return found->second.isValid() ? &found->second : nullptr;
}

// A bold font whose face exists only as bitmaps and has no bold style of its own: Qt cannot
// embolden it (the text would stay regular), GDI simulates the bold.
bool simulatedRasterBold(const QFont& font) {
    if (!font.bold())
        return false;
    const QString family = QFontInfo(font).family();
    if (QFontDatabase::isScalable(family))
        return false;
    for (const QString& style : QFontDatabase::styles(family))
        if (QFontDatabase::weight(family, style) >= QFont::DemiBold)
            return false;
    return true;
}

bool hasRightToLeft(const QString& line) {
    for (const char32_t c : line.toUcs4()) {
        switch (QChar::direction(c)) {
        case QChar::DirR:
        case QChar::DirAL:
        case QChar::DirRLE:
        case QChar::DirRLO:
        case QChar::DirRLI:
            return true;
        default:
            break;
        }
    }
    return false;
}

// One line placed glyph by glyph at the classic widths.
struct ClassicLayout {
    QRawFont Raw; // the face that draws
    QList<quint32> Glyphs;
    QList<QPointF> Positions; // pen positions on the baseline, from the line's start
    QList<int> CharX;         // x of each UTF-16 index of the line, then the line's end
    bool Overstrike = false;
    int Width() const { return CharX.isEmpty() ? 0 : CharX.back(); }
};

std::optional<ClassicLayout> classicLayout(const QFont& font, const QString& line) {
    if (line.isEmpty() || (font.stretch() != 0 && font.stretch() != 100) ||
        font.letterSpacing() != 0 || font.wordSpacing() != 0 || hasRightToLeft(line))
        return std::nullopt;
    const int pixels = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    bool boldWidths = false;
    const QRawFont* metrics = metricFont(QFontInfo(font).family(), font.bold(), pixels, boldWidths);
    if (metrics == nullptr && !simulatedRasterBold(font))
        return std::nullopt;
    ClassicLayout out;
    // Bold is drawn as GDI emboldens: the regular glyphs twice, one pixel apart. Wine's bold
    // file has outlines of regular weight and Qt's own emboldening is fainter than Windows'
    // two-pixel stems; the bold file lends its widths, which leave room for the second pixel.
    out.Overstrike = font.bold();
    QFont regular = font;
    regular.setBold(false);
    out.Raw = QRawFont::fromFont(out.Overstrike ? regular : font);
    if (!out.Raw.isValid())
        return std::nullopt;
    // Without bold widths (a bitmap face, or no bold file) each character is one pixel wider.
    const int extra = out.Overstrike && !boldWidths ? 1 : 0;
    int x = 0;
    for (qsizetype i = 0; i < line.size();) {
        const qsizetype length =
            line[i].isHighSurrogate() && i + 1 < line.size() && line[i + 1].isLowSurrogate() ? 2
                                                                                             : 1;
        const QString character = line.mid(i, length);
        const QList<quint32> glyph = out.Raw.glyphIndexesForString(character);
        if (glyph.size() != 1 || glyph[0] == 0)
            return std::nullopt; // the face lacks it: Qt finds a fallback face
        double advance = 0;
        if (metrics != nullptr) {
            const QList<quint32> own = metrics->glyphIndexesForString(character);
            advance =
                own.size() == 1 && own[0] != 0
                    ? metrics->advancesForGlyphIndexes(own, QRawFont::UseDesignMetrics)[0].x()
                    : out.Raw.advancesForGlyphIndexes(glyph, QRawFont::UseDesignMetrics)[0].x();
        } else {
            advance = out.Raw.advancesForGlyphIndexes(glyph)[0].x(); // the bitmap's own width
        }
        advance += extra;
        out.Glyphs.push_back(glyph[0]);
        out.Positions.push_back(QPointF(x, 0));
        for (qsizetype k = 0; k < length; ++k)
            out.CharX.push_back(x);
        x += static_cast<int>(std::lround(advance));
        i += length;
    }
    out.CharX.push_back(x);
    return out;
}

} // namespace

int classicTextWidth(const QFont& font, const QString& line) {
    if (const auto layout = classicLayout(font, line))
        return layout->Width();
    return QFontMetrics(font).horizontalAdvance(line);
}

void drawClassicText(QPainter& painter, const QPointF& origin, const QString& line, int underline) {
    // Right-to-left reading (a Hebrew or Arabic label) is Qt's bidirectional layout.
    const auto layout = painter.layoutDirection() == Qt::RightToLeft
                            ? std::nullopt
                            : classicLayout(painter.font(), line);
    int underlineFrom = 0, underlineTo = 0;
    if (layout) {
        QGlyphRun run;
        run.setRawFont(layout->Raw);
        run.setGlyphIndexes(layout->Glyphs);
        run.setPositions(layout->Positions);
        run.setUnderline(painter.font().underline());
        run.setStrikeOut(painter.font().strikeOut());
        painter.drawGlyphRun(origin, run);
        if (layout->Overstrike)
            painter.drawGlyphRun(origin + QPointF(1, 0), run);
        if (underline >= 0 && underline < line.size()) {
            underlineFrom = layout->CharX[underline];
            underlineTo = layout->CharX[underline + 1];
        }
    } else {
        painter.drawText(origin, line);
        if (underline >= 0 && underline < line.size()) {
            const QFontMetrics metrics(painter.font());
            underlineFrom = metrics.horizontalAdvance(line.left(underline));
            underlineTo = metrics.horizontalAdvance(line.left(underline + 1));
        }
    }
    if (underlineTo > underlineFrom) {
        const QFontMetrics metrics(painter.font());
        painter.fillRect(QRectF(origin.x() + underlineFrom, origin.y() + metrics.underlinePos(),
                                underlineTo - underlineFrom, std::max(1, metrics.lineWidth())),
                         painter.pen().color());
    }
}

QString stripAccelerator(const QString& caption, int* accelerator) {
    QString shown;
    int mark = -1;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (++i == caption.size())
                break; // a mark with nothing after it shows nothing
            if (caption[i] != u'&' && mark < 0)
                mark = static_cast<int>(shown.size());
        }
        shown += caption[i];
    }
    if (accelerator != nullptr)
        *accelerator = mark;
    return shown;
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
    // Wine's tahomabd.ttf is marked bold but carries outlines of regular weight, so bold text
    // would look regular: it is not registered. The toolkit's own text draws bold as GDI
    // emboldens and takes only the bold file's advance widths (classicTextWidth); Qt's widgets
    // (edits, lists) embolden the regular face.
    static const char* const files[] = {"tahoma.ttf", "ms_sans_serif.ttf"};
    auto readAll = [](const QString& path) {
        QFile in(path);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    };
    int registered = 0;
    for (const char* file : files) {
        for (const QString& dir : dirs) {
            const QString path = QDir(dir).filePath(QLatin1String(file));
            const int id = QFileInfo(path).isFile() ? QFontDatabase::addApplicationFont(path) : -1;
            if (id < 0)
                continue;
            ++registered;
            if (qstrcmp(file, "tahoma.ttf") == 0 &&
                QFontDatabase::applicationFontFamilies(id).contains(QLatin1String("Tahoma")))
                metricFaces()[QStringLiteral("tahoma")] = {
                    readAll(path), readAll(QDir(dir).filePath(QStringLiteral("tahomabd.ttf")))};
            break;
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
