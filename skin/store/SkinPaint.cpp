#include "skin/store/SkinPaint.h"

#include <algorithm>

TSkinCanvas::~TSkinCanvas() = default;

void TSkinCanvas::DrawObjectText(const TSkinObject&, const TSkinRect&, const TFont&) {}

namespace kv::skin {

namespace {

constexpr int kMaxSkinCoordinate = 1 << 20;

TSkinRect intersect(const TSkinRect& A, const TSkinRect& B) {
    return {std::max(A.Left, B.Left), std::max(A.Top, B.Top), std::min(A.Right, B.Right),
            std::min(A.Bottom, B.Bottom)};
}

std::uint32_t blend(std::uint32_t Dst, std::uint32_t Src) {
    const int a = PixelAlpha(Src);
    const auto mix = [a](int d, int s) { return (s * a + d * (255 - a) + 127) / 255; };
    return SkinPixel(mix(PixelRed(Dst), PixelRed(Src)), mix(PixelGreen(Dst), PixelGreen(Src)),
                     mix(PixelBlue(Dst), PixelBlue(Src)), std::max(PixelAlpha(Dst), a));
}

} // namespace

void DrawPiece(TSkinBitmap& Target, const TSkinBitmap& Source, TSkinRect Src, const TSkinRect& Dst,
               TTileStyle Style, bool Masked, const TSkinRect& CenterIn) {
    Src = intersect(Src, {0, 0, Source.Width, Source.Height});
    if (Src.IsEmpty() || Dst.IsEmpty())
        return;
    const int sw = Src.Width();
    const int sh = Src.Height();
    TSkinRect area = intersect(Dst, {0, 0, Target.Width, Target.Height});
    int originX = Dst.Left;
    int originY = Dst.Top;
    if (Style == tsCenter) {
        originX = CenterIn.Left + (CenterIn.Width() - sw) / 2;
        originY = CenterIn.Top + (CenterIn.Height() - sh) / 2;
        area = intersect(area, {originX, originY, originX + sw, originY + sh});
    }
    if (area.IsEmpty())
        return;
    const bool blendAlpha = Source.HasAlpha;
    const auto dw = static_cast<long long>(Dst.Width());
    const auto dh = static_cast<long long>(Dst.Height());
    for (int y = area.Top; y < area.Bottom; ++y) {
        int sy = 0;
        if (Style == tsStretch)
            sy = Src.Top + static_cast<int>(static_cast<long long>(y - Dst.Top) * sh / dh);
        else if (Style == tsTile)
            sy = Src.Top + (y - Dst.Top) % sh;
        else
            sy = Src.Top + (y - originY);
        for (int x = area.Left; x < area.Right; ++x) {
            int sx = 0;
            if (Style == tsStretch)
                sx = Src.Left + static_cast<int>(static_cast<long long>(x - Dst.Left) * sw / dw);
            else if (Style == tsTile)
                sx = Src.Left + (x - Dst.Left) % sw;
            else
                sx = Src.Left + (x - originX);
            const std::uint32_t p = Source.Pixel(sx, sy);
            if (Masked && p == kSkinTransparentKey)
                continue;
            const int a = PixelAlpha(p);
            if (blendAlpha && a > 0 && a < 255)
                Target.SetPixel(x, y, blend(Target.Pixel(x, y), p));
            else
                Target.SetPixel(x, y, p);
        }
    }
}

void PaintNinePiece(TSkinCanvas& Canvas, const TSkinBitmap& Source, const TSkinRect& SrcRect,
                    const TSkinRect& B, const SkinMargins& Margins, TTileStyle TileStyle,
                    TTileStyle BorderStyle, bool Masked, bool MaskedBorder, bool MaskedAngles) {
    TSkinBitmap& t = Canvas.Target;
    // Skins are outside data: keep every coordinate within ranges whose sums cannot overflow.
    const TSkinRect S = intersect(SrcRect, {0, 0, Source.Width, Source.Height});
    const auto margin = [](int v) { return std::clamp(v, 0, kMaxSkinCoordinate); };
    const SkinMargins M{margin(Margins.Left), margin(Margins.Top), margin(Margins.Right),
                        margin(Margins.Bottom)};
    const int x = B.Left;
    const int y = B.Top;
    const int w = B.Width();
    const int h = B.Height();
    if (M.Left == 0 && M.Top == 0 && M.Right == 0 && M.Bottom == 0) {
        DrawPiece(t, Source, S, B, TileStyle, Masked, B);
        return;
    }
    const auto at = [x, y](int l, int tp, int r, int b) {
        return TSkinRect{x + l, y + tp, x + r, y + b};
    };
    // Centre.
    DrawPiece(t, Source, {S.Left + M.Left, S.Top + M.Top, S.Right - M.Right, S.Bottom - M.Bottom},
              at(M.Left, M.Top, w - M.Right, h - M.Bottom), TileStyle, Masked, B);
    // Edges.
    DrawPiece(t, Source, {S.Left + M.Left, S.Top, S.Right - M.Right, S.Top + M.Top},
              at(M.Left, 0, w - M.Right, M.Top), BorderStyle, MaskedBorder, B);
    DrawPiece(t, Source, {S.Left + M.Left, S.Bottom - M.Bottom, S.Right - M.Right, S.Bottom},
              at(M.Left, h - M.Bottom, w - M.Right, h), BorderStyle, MaskedBorder, B);
    DrawPiece(t, Source, {S.Left, S.Top + M.Top, S.Left + M.Left, S.Bottom - M.Bottom},
              at(0, M.Top, M.Left, h - M.Bottom), BorderStyle, MaskedBorder, B);
    DrawPiece(t, Source, {S.Right - M.Right, S.Top + M.Top, S.Right, S.Bottom - M.Bottom},
              at(w - M.Right, M.Top, w, h - M.Bottom), BorderStyle, MaskedBorder, B);
    // Corners, unscaled.
    DrawPiece(t, Source, {S.Left, S.Top, S.Left + M.Left, S.Top + M.Top}, at(0, 0, M.Left, M.Top),
              tsTile, MaskedAngles, B);
    DrawPiece(t, Source, {S.Right - M.Right, S.Top, S.Right, S.Top + M.Top},
              at(w - M.Right, 0, w, M.Top), tsTile, MaskedAngles, B);
    DrawPiece(t, Source, {S.Left, S.Bottom - M.Bottom, S.Left + M.Left, S.Bottom},
              at(0, h - M.Bottom, M.Left, h), tsTile, MaskedAngles, B);
    DrawPiece(t, Source, {S.Right - M.Right, S.Bottom - M.Bottom, S.Right, S.Bottom},
              at(w - M.Right, h - M.Bottom, w, h), tsTile, MaskedAngles, B);
}

} // namespace kv::skin
