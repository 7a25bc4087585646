#include "toolkit/Graphics.h"

#include "toolkit/SysUtils.h"
#include "toolkit/TypInfo.h"

#include <cstdlib>

namespace {

struct NamedValue {
    std::int64_t Value;
    const char* Name;
};

const NamedValue colorNames[] = {
    {clBlack, "clBlack"},
    {clMaroon, "clMaroon"},
    {clGreen, "clGreen"},
    {clOlive, "clOlive"},
    {clNavy, "clNavy"},
    {clPurple, "clPurple"},
    {clTeal, "clTeal"},
    {clGray, "clGray"},
    {clSilver, "clSilver"},
    {clRed, "clRed"},
    {clLime, "clLime"},
    {clYellow, "clYellow"},
    {clBlue, "clBlue"},
    {clFuchsia, "clFuchsia"},
    {clAqua, "clAqua"},
    {clWhite, "clWhite"},
    {clMoneyGreen, "clMoneyGreen"},
    {clSkyBlue, "clSkyBlue"},
    {clCream, "clCream"},
    {clMedGray, "clMedGray"},
    {clActiveBorder, "clActiveBorder"},
    {clActiveCaption, "clActiveCaption"},
    {clAppWorkSpace, "clAppWorkSpace"},
    {clBackground, "clBackground"},
    {clBtnFace, "clBtnFace"},
    {clBtnHighlight, "clBtnHighlight"},
    {clBtnShadow, "clBtnShadow"},
    {clBtnText, "clBtnText"},
    {clCaptionText, "clCaptionText"},
    {clDefault, "clDefault"},
    {clGradientActiveCaption, "clGradientActiveCaption"},
    {clGradientInactiveCaption, "clGradientInactiveCaption"},
    {clGrayText, "clGrayText"},
    {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"},
    {clHotLight, "clHotLight"},
    {clInactiveBorder, "clInactiveBorder"},
    {clInactiveCaption, "clInactiveCaption"},
    {clInactiveCaptionText, "clInactiveCaptionText"},
    {clInfoBk, "clInfoBk"},
    {clInfoText, "clInfoText"},
    {clMenu, "clMenu"},
    {clMenuBar, "clMenuBar"},
    {clMenuHighlight, "clMenuHighlight"},
    {clMenuText, "clMenuText"},
    {clNone, "clNone"},
    {clScrollBar, "clScrollBar"},
    {cl3DDkShadow, "cl3DDkShadow"},
    {cl3DLight, "cl3DLight"},
    {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"},
    {clWindowText, "clWindowText"},
};

const NamedValue charsetNames[] = {
    {ANSI_CHARSET, "ANSI_CHARSET"},
    {DEFAULT_CHARSET, "DEFAULT_CHARSET"},
    {SYMBOL_CHARSET, "SYMBOL_CHARSET"},
    {MAC_CHARSET, "MAC_CHARSET"},
    {SHIFTJIS_CHARSET, "SHIFTJIS_CHARSET"},
    {HANGEUL_CHARSET, "HANGEUL_CHARSET"},
    {JOHAB_CHARSET, "JOHAB_CHARSET"},
    {GB2312_CHARSET, "GB2312_CHARSET"},
    {CHINESEBIG5_CHARSET, "CHINESEBIG5_CHARSET"},
    {GREEK_CHARSET, "GREEK_CHARSET"},
    {TURKISH_CHARSET, "TURKISH_CHARSET"},
    {VIETNAMESE_CHARSET, "VIETNAMESE_CHARSET"},
    {HEBREW_CHARSET, "HEBREW_CHARSET"},
    {ARABIC_CHARSET, "ARABIC_CHARSET"},
    {BALTIC_CHARSET, "BALTIC_CHARSET"},
    {RUSSIAN_CHARSET, "RUSSIAN_CHARSET"},
    {THAI_CHARSET, "THAI_CHARSET"},
    {EASTEUROPE_CHARSET, "EASTEUROPE_CHARSET"},
    {OEM_CHARSET, "OEM_CHARSET"},
};

template <size_t N>
bool toIdent(const NamedValue (&table)[N], std::int64_t value, std::string& ident) {
    for (const NamedValue& nv : table)
        if (nv.Value == value) {
            ident = nv.Name;
            return true;
        }
    return false;
}

template <size_t N>
bool fromIdent(const NamedValue (&table)[N], std::string_view ident, std::int64_t& value) {
    for (const NamedValue& nv : table)
        if (SameText(nv.Name, ident)) {
            value = nv.Value;
            return true;
        }
    return false;
}

bool colorIntToIdent(std::int64_t v, std::string& ident) {
    return v >= INT32_MIN && v <= INT32_MAX && toIdent(colorNames, v, ident);
}

bool colorIdentToInt(std::string_view ident, std::int64_t& v) {
    return fromIdent(colorNames, ident, v);
}

bool charsetIntToIdent(std::int64_t v, std::string& ident) {
    return toIdent(charsetNames, v, ident);
}

bool charsetIdentToInt(std::string_view ident, std::int64_t& v) {
    return fromIdent(charsetNames, ident, v);
}

const TIdentMap colorMap{colorIntToIdent, colorIdentToInt};
const TIdentMap charsetMap{charsetIntToIdent, charsetIdentToInt};

// a * b / c rounded half away from zero.
int mulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    const long long q = (std::llabs(p) * 2 + c) / (2LL * c);
    return static_cast<int>(p < 0 ? -q : q);
}

} // namespace

bool ColorToIdent(TColor Color, std::string& Ident) {
    return toIdent(colorNames, Color, Ident);
}

bool IdentToColor(std::string_view Ident, TColor& Color) {
    std::int64_t v = 0;
    if (!fromIdent(colorNames, Ident, v))
        return false;
    Color = static_cast<TColor>(v);
    return true;
}

std::string ColorToString(TColor Color) {
    std::string ident;
    if (ColorToIdent(Color, ident))
        return ident;
    return "$" + IntToHex(static_cast<std::uint32_t>(Color), 8);
}

TColor StringToColor(std::string_view S) {
    TColor c = 0;
    if (IdentToColor(Trim(S), c))
        return c;
    std::int64_t v = 0;
    if (!TryStrToInt(S, v) || v < INT32_MIN || v > static_cast<std::int64_t>(UINT32_MAX))
        throw EConvertError("'" + std::string(S) + "' is not a valid colour value");
    return static_cast<TColor>(static_cast<std::uint32_t>(v));
}

bool CharsetToIdent(std::int64_t Charset, std::string& Ident) {
    return toIdent(charsetNames, Charset, Ident);
}

bool IdentToCharset(std::string_view Ident, std::int64_t& Charset) {
    return fromIdent(charsetNames, Ident, Charset);
}

const TIdentMap* ColorIdents() {
    return &colorMap;
}

const TIdentMap* CharsetIdents() {
    return &charsetMap;
}

namespace kv::toolkit {
const TEnumInfo FontStyleInfo{"TFontStyle", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"}};
const TEnumInfo FontPitchInfo{"TFontPitch", {"fpDefault", "fpVariable", "fpFixed"}};
} // namespace kv::toolkit

// ---------------------------------------------------------------------------------------------
// TFont

TFont::TFont() = default;

void TFont::SetName(const std::string& Value) {
    if (Value.empty() || Value == FName)
        return;
    FName = Value;
    Changed();
}

void TFont::SetHeight(int Value) {
    if (Value == FHeight)
        return;
    FHeight = Value;
    Changed();
}

int TFont::Size() const {
    return -mulDiv(FHeight, 72, PixelsPerInch);
}

void TFont::SetSize(int Value) {
    SetHeight(-mulDiv(Value, PixelsPerInch, 72));
}

void TFont::SetColor(TColor Value) {
    if (Value == FColor)
        return;
    FColor = Value;
    Changed();
}

void TFont::SetStyle(TFontStyles Value) {
    if (Value == FStyle)
        return;
    FStyle = Value;
    Changed();
}

void TFont::SetCharset(TFontCharset Value) {
    if (Value == FCharset)
        return;
    FCharset = Value;
    Changed();
}

void TFont::SetPitch(TFontPitch Value) {
    if (Value == FPitch)
        return;
    FPitch = Value;
    Changed();
}

bool TFont::operator==(const TFont& Other) const {
    return FName == Other.FName && FHeight == Other.FHeight && FColor == Other.FColor &&
           FStyle == Other.FStyle && FCharset == Other.FCharset && FPitch == Other.FPitch;
}

void TFont::Assign(TPersistent* Source) {
    if (auto* src = dynamic_cast<TFont*>(Source)) {
        if (*src == *this)
            return;
        FName = src->FName;
        FHeight = src->FHeight;
        FColor = src->FColor;
        FStyle = src->FStyle;
        FCharset = src->FCharset;
        FPitch = src->FPitch;
        Changed();
        return;
    }
    TPersistent::Assign(Source);
}

void TFont::Changed() {
    if (OnChange)
        OnChange(this);
}
