// Painting skin bitmaps into a 32-bit target image: one piece with a tile style, and the
// nine-piece drawing of bitmap objects (corners unscaled, edges and centre tiled or stretched).
//
// All drawing is clipped to the target image and to the source bitmap, so a skin whose
// rectangles lie outside its bitmaps or whose margins exceed the object draws what lies inside
// and nothing else. tsStretch resamples by nearest neighbour: fast, exact for the 1:1 case and
// free of colour bleeding across the transparent key.
#pragma once

#include "skin/store/SkinBitmap.h"
#include "skin/store/SkinObjectClasses.h"

class TFont;
class TSkinObject;

// The target of skin painting. Text is drawn by whoever can render fonts: the default draws
// none, the user-interface layer overrides it.
class TSkinCanvas {
public:
    explicit TSkinCanvas(TSkinBitmap& ATarget) : Target(ATarget) {}
    virtual ~TSkinCanvas();
    TSkinCanvas(const TSkinCanvas&) = delete;
    TSkinCanvas& operator=(const TSkinCanvas&) = delete;

    TSkinBitmap& Target;
    virtual void DrawObjectText(const TSkinObject& Object, const TSkinRect& Bounds,
                                const TFont& Font);
};

namespace kv::skin {

struct SkinMargins {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

// Draws Source's rectangle SrcRect into DstRect. tsCenter places the piece unscaled in the
// middle of CenterIn (halves rounded toward zero) and shows the part inside DstRect. Masked:
// pixels holding the transparent key are left undrawn. Pixels with partial alpha are blended
// over the target.
void DrawPiece(TSkinBitmap& Target, const TSkinBitmap& Source, TSkinRect SrcRect,
               const TSkinRect& DstRect, TTileStyle Style, bool Masked, const TSkinRect& CenterIn);

// The bitmap object drawing: with all margins 0 the whole rectangle with TileStyle; otherwise
// centre (TileStyle, Masked), edges (BorderStyle, MaskedBorder), corners (MaskedAngles).
void PaintNinePiece(TSkinCanvas& Canvas, const TSkinBitmap& Source, const TSkinRect& SrcRect,
                    const TSkinRect& Bounds, const SkinMargins& M, TTileStyle TileStyle,
                    TTileStyle BorderStyle, bool Masked, bool MaskedBorder, bool MaskedAngles);

} // namespace kv::skin
