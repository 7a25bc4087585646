// Colours, fonts, bevels and pictures of the visual toolkit, mapped onto Qt.
//
// Layouts give colours as the toolkit's BGR integers (0x00BBGGRR) or as system colour indices
// (0x80000000 | index); the system colours are mapped to the fixed values of the Windows
// classic scheme so that a window looks the same on every machine and in every screenshot.
// Fonts are given by pixel height at 96 dpi: a negative height is the character height (the
// em size), a positive one the cell height including the internal leading.
#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QPainter;

namespace kv::ui {

// RGB of a toolkit colour; system colours resolve to the classic scheme, clNone/clDefault and
// unknown system indices to black.
QColor colorToQColor(std::int32_t color);

// True for clNone (0x1FFFFFFF): "paint nothing".
bool isNoneColor(std::int32_t color);

// A Qt font for the toolkit's font description.
QFont makeQFont(const std::string& name, int height, bool bold, bool italic, bool underline,
                bool strikeOut);

// Text lines as the classic toolkit measures them: the font's Windows ascent and descent
// (OS/2 usWinAscent / usWinDescent scaled to the pixel size; Qt's own ascent and descent when
// the font has no such table). A line is Ascent + Descent high, its baseline Ascent below its top.
struct ClassicMetrics {
    int Ascent = 0;
    int Descent = 0;
    int Height() const { return Ascent + Descent; }
};
ClassicMetrics classicMetrics(const QFont& font);
inline int classicLineHeight(const QFont& font) {
    return classicMetrics(font).Height();
}

// Draws lines of text (LF-separated, no wrapping) the classic way: each line classic-line-height
// apart, the block placed in `rect` by `alignment` (horizontal and vertical flags; absolute
// left/right). The painter's layout direction gives the reading order.
void drawClassicLines(QPainter& painter, const QRect& rect, Qt::Alignment alignment,
                      const QString& text);

// Text measured and placed with the widths Windows gives it. GDI advances the pen by each
// glyph's design advance width (the face's 'hmtx'), scaled to the pixel size and rounded to a
// whole pixel, without kerning. Qt hints the outlines of Wine's Tahoma wider than that ("e" at
// 11 px is 7 pixels instead of 6), so captions measured on Windows ran into their frames. For a
// face registered by registerToolkitFonts with its metric files (Tahoma) a line is measured and
// drawn glyph by glyph at those widths, with the glyphs' own shapes. Bold takes the bold file's
// widths and is drawn as GDI emboldens, the regular glyphs twice one pixel apart (Wine's bold
// outlines are of regular weight). A face that exists only as bitmaps (Wine's MS Sans Serif) and
// has no bold style gets GDI's simulated bold too: every character one pixel wider, drawn twice
// one pixel apart. Any other face, a condensed or stretched font, right-to-left text or a
// character the face lacks goes through Qt's own layout.
int classicTextWidth(const QFont& font, const QString& line);
// Draws one line with painter's font and pen, its baseline starting at `origin`. `underline` is
// the index in `line` of a character to underline (an accelerator), -1 for none.
void drawClassicText(QPainter& painter, const QPointF& origin, const QString& line,
                     int underline = -1);
// The line as a caption shows it: "&&" is an ampersand, "&x" shows x and makes it the
// accelerator, whose index in the shown text goes to `accelerator` (-1 when there is none).
QString stripAccelerator(const QString& caption, int* accelerator = nullptr);

// The classic two-colour bevel frame: `width` rings, the top and left edges in `topLeft`, the
// bottom and right edges in `bottomRight` (the top-right and bottom-left corner pixels belong to
// the bottom-right colour). `rect` shrinks by one pixel per ring.
void frame3D(QPainter& painter, QRect& rect, const QColor& topLeft, const QColor& bottomRight,
             int width);

// A picture drawn from its description at whatever pixel size it is asked for (SVG). A build
// without an SVG renderer has none: there the pictures come as PNG files rendered from the SVG
// sources at build time (see findPictureFile).
class VectorImage {
public:
    virtual ~VectorImage() = default;
    // The declared width and height; empty when the description gives none.
    virtual QSize declaredSize() const = 0;
    virtual QSizeF viewBox() const = 0;
    virtual void render(QPainter& painter, const QRectF& target) = 0;
};
// The SVG in `bytes`, or nullptr when it is not valid SVG or this build cannot draw SVG.
std::unique_ptr<VectorImage> loadVectorImage(const QByteArray& bytes);

// A picture source: an SVG (kept as vector and rasterised at whatever pixel size it is drawn)
// or a raster image (PNG, BMP, ...). Empty when the name could not be resolved.
class PictureData {
public:
    PictureData();
    ~PictureData();
    PictureData(const PictureData&) = delete;
    PictureData& operator=(const PictureData&) = delete;

    // Loads from encoded bytes; `hint` is the file name (its extension picks SVG).
    static std::shared_ptr<const PictureData> fromBytes(const QByteArray& bytes,
                                                        const QString& hint);
    // Resolves a picture name (see findPictureFile) and loads it; nullptr when not found or
    // not decodable.
    static std::shared_ptr<const PictureData> load(const std::string& name);
    static std::shared_ptr<const PictureData> fromPixmap(const QPixmap& pixmap);

    bool isVector() const { return svg_ != nullptr; }
    // The declared size of an SVG (its width/height, else its view box) or the raster size.
    QSize naturalSize() const;
    // The picture as pixels of exactly `size` (vector: rendered at that size; raster: scaled
    // smoothly unless it already has that size).
    QPixmap pixmap(QSize size) const;
    // Draws into `target` (vector pictures are rendered, raster pictures scaled).
    void draw(QPainter& painter, const QRectF& target) const;

private:
    std::unique_ptr<VectorImage> svg_;
    QPixmap raster_;
};

// Directories searched for picture names after the Qt resource folder ":/pictures/".
void addPictureSearchPath(const std::string& directory);
// The file for a picture name: ":/pictures/NAME" when that resource exists (for NAME.svg also
// ":/pictures/NAME.png", the same picture rendered at its own size by a build without an SVG
// renderer), else NAME in each search directory, else NAME itself when it is an existing file;
// empty when none exists.
QString findPictureFile(const std::string& name);

} // namespace kv::ui

namespace kv::ui {

// Makes the layouts' faces available to Qt. The Tahoma and MS Sans Serif files of the
// fonts-wine package live in Wine's own font folder, outside fontconfig's search path, so they
// are registered with Qt directly when present (KELVORA_FONT_DIR and a "fonts" folder beside
// the executable are searched first). A face that is still missing afterwards is substituted
// by DejaVu Sans. Needs the Qt application object; repeated calls do nothing.
// Returns the number of font files registered by this call. Tahoma's regular and bold files
// also become the metric source of classicTextWidth for that family.
int registerToolkitFonts();

} // namespace kv::ui
