// Colours, character sets and TFont.
//
// TColor is a 32-bit integer: a plain colour is 0x00BBGGRR (red in the low byte), a system
// colour is 0x80000000 | the system colour index (clBtnFace = 0x8000000F), and clNone/clDefault
// are the special values 0x1FFFFFFF / 0x20000000.
//   ColorToString(c)  the name (clWindowText) or "$00BBGGRR"; StringToColor(s) the reverse
//   (names ignore case; also decimal and $hex), EConvertError otherwise.
//   ColorToIdent/IdentToColor: names only. RGBColor(r, g, b) builds a plain colour.
// Character sets are bytes with Windows names (DEFAULT_CHARSET, TURKISH_CHARSET, ...):
//   CharsetToIdent/IdentToCharset.
// ColorIdents()/CharsetIdents(): the name tables for integer properties (toolkit/TypInfo.h).
//
// TFont (TPersistent): Name, Height (pixels at 96 dpi; negative = character height, positive =
// cell height), Size (points: Size = -Height * 72 / 96 rounded; setting Size sets Height),
// Color, Style (fsBold, fsItalic, fsUnderline, fsStrikeOut), Charset, Pitch. OnChange fires
// after every change. Defaults: "MS Sans Serif", height -11 (8 pt), clWindowText, [],
// DEFAULT_CHARSET, fpDefault. Stream order: Charset, Color, Height, Name, Pitch, Size (not
// stored), Style.
#pragma once

#include "toolkit/Persistent.h"
#include "toolkit/Sets.h"

#include <cstdint>
#include <string>
#include <string_view>

struct TEnumInfo;
struct TIdentMap;

using TColor = std::int32_t;

constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor SysColor(int Index) {
    return static_cast<TColor>(0x80000000u | static_cast<std::uint32_t>(Index));
}

constexpr TColor clScrollBar = SysColor(0);
constexpr TColor clBackground = SysColor(1);
constexpr TColor clActiveCaption = SysColor(2);
constexpr TColor clInactiveCaption = SysColor(3);
constexpr TColor clMenu = SysColor(4);
constexpr TColor clWindow = SysColor(5);
constexpr TColor clWindowFrame = SysColor(6);
constexpr TColor clMenuText = SysColor(7);
constexpr TColor clWindowText = SysColor(8);
constexpr TColor clCaptionText = SysColor(9);
constexpr TColor clActiveBorder = SysColor(10);
constexpr TColor clInactiveBorder = SysColor(11);
constexpr TColor clAppWorkSpace = SysColor(12);
constexpr TColor clHighlight = SysColor(13);
constexpr TColor clHighlightText = SysColor(14);
constexpr TColor clBtnFace = SysColor(15);
constexpr TColor clBtnShadow = SysColor(16);
constexpr TColor clGrayText = SysColor(17);
constexpr TColor clBtnText = SysColor(18);
constexpr TColor clInactiveCaptionText = SysColor(19);
constexpr TColor clBtnHighlight = SysColor(20);
constexpr TColor cl3DDkShadow = SysColor(21);
constexpr TColor cl3DLight = SysColor(22);
constexpr TColor clInfoText = SysColor(23);
constexpr TColor clInfoBk = SysColor(24);
constexpr TColor clHotLight = SysColor(26);
constexpr TColor clGradientActiveCaption = SysColor(27);
constexpr TColor clGradientInactiveCaption = SysColor(28);
constexpr TColor clMenuHighlight = SysColor(29);
constexpr TColor clMenuBar = SysColor(30);

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clLtGray = 0xC0C0C0;
constexpr TColor clDkGray = 0x808080;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clMoneyGreen = 0xC0DCC0;
constexpr TColor clSkyBlue = 0xF0CAA6;
constexpr TColor clCream = 0xF0FBFF;
constexpr TColor clMedGray = 0xA4A0A0;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

constexpr TColor RGBColor(int R, int G, int B) {
    return static_cast<TColor>((static_cast<std::uint32_t>(R) & 0xFFu) |
                               ((static_cast<std::uint32_t>(G) & 0xFFu) << 8) |
                               ((static_cast<std::uint32_t>(B) & 0xFFu) << 16));
}

bool ColorToIdent(TColor Color, std::string& Ident);
bool IdentToColor(std::string_view Ident, TColor& Color);
std::string ColorToString(TColor Color);
TColor StringToColor(std::string_view S);

using TFontCharset = std::uint8_t;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;
constexpr TFontCharset SYMBOL_CHARSET = 2;
constexpr TFontCharset MAC_CHARSET = 77;
constexpr TFontCharset SHIFTJIS_CHARSET = 128;
constexpr TFontCharset HANGEUL_CHARSET = 129;
constexpr TFontCharset JOHAB_CHARSET = 130;
constexpr TFontCharset GB2312_CHARSET = 134;
constexpr TFontCharset CHINESEBIG5_CHARSET = 136;
constexpr TFontCharset GREEK_CHARSET = 161;
constexpr TFontCharset TURKISH_CHARSET = 162;
constexpr TFontCharset VIETNAMESE_CHARSET = 163;
constexpr TFontCharset HEBREW_CHARSET = 177;
constexpr TFontCharset ARABIC_CHARSET = 178;
constexpr TFontCharset BALTIC_CHARSET = 186;
constexpr TFontCharset RUSSIAN_CHARSET = 204;
constexpr TFontCharset THAI_CHARSET = 222;
constexpr TFontCharset EASTEUROPE_CHARSET = 238;
constexpr TFontCharset OEM_CHARSET = 255;

bool CharsetToIdent(std::int64_t Charset, std::string& Ident);
bool IdentToCharset(std::string_view Ident, std::int64_t& Charset);

const TIdentMap* ColorIdents();
const TIdentMap* CharsetIdents();

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = SetOf<TFontStyle>;
enum TFontPitch { fpDefault, fpVariable, fpFixed };

namespace kv::toolkit {
extern const TEnumInfo FontStyleInfo;
extern const TEnumInfo FontPitchInfo;
} // namespace kv::toolkit

class TFont : public TPersistent {
public:
    TFont();
    std::string ClassName() const override { return "TFont"; }

    const std::string& Name() const { return FName; }
    void SetName(const std::string& Value);
    int Height() const { return FHeight; }
    void SetHeight(int Value);
    int Size() const;
    void SetSize(int Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles Value);
    TFontCharset Charset() const { return FCharset; }
    void SetCharset(TFontCharset Value);
    TFontPitch Pitch() const { return FPitch; }
    void SetPitch(TFontPitch Value);
    static constexpr int PixelsPerInch = 96;

    void Assign(TPersistent* Source) override;
    bool operator==(const TFont& Other) const;

    TNotifyEvent OnChange;

protected:
    virtual void Changed();

private:
    std::string FName = "MS Sans Serif";
    int FHeight = -11;
    TColor FColor = clWindowText;
    TFontStyles FStyle;
    TFontCharset FCharset = DEFAULT_CHARSET;
    TFontPitch FPitch = fpDefault;
};
