// Button glyphs: cutting a glyph into its cells, its transparent colour, the grey looks, and the
// built-in two-cell glyphs and captions of the button kinds.
#pragma once

#include <QImage>

class TPicture;

namespace kv::skin {

enum class GlyphLook {
    Normal,
    Greys,    // black and white: each pixel a grey of its lightness
    DarkGreys // a single-cell glyph on a disabled button
};

// The glyph's pixels at its natural size (ARGB32); null for an empty picture.
QImage GlyphImage(const TPicture& Glyph);
// Cell Index (0-based) of NumGlyphs cells of equal width. Pixels of the glyph's transparent colour
// (its bottom-left pixel) become fully transparent; the others get Look.
QImage GlyphCell(const QImage& Glyph, int NumGlyphs, int Index, GlyphLook Look);

// The built-in two-cell glyph (32 x 16: normal, disabled) of a button kind (1 to 10).
QImage KindGlyph(int Kind);

} // namespace kv::skin
