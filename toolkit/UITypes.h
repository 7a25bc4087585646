// Small enumerations and constants shared by layouts and controls, with their identifier
// tables (kv::toolkit::...Info) for published properties.
//   TAlign (alNone .. alCustom), TAlignment (taLeftJustify, taRightJustify, taCenter),
//   TVerticalAlignment, TTextLayout, TBiDiMode, TBevelCut (bvNone, bvLowered, bvRaised,
//   bvSpace), TBevelKind, TFormBorderStyle (bsNone .. bsSizeToolWin; controls use bsNone and
//   bsSingle), TBorderIcons (biSystemMenu, biMinimize, biMaximize, biHelp), TPosition,
//   TWindowState, TFormStyle, TScrollStyle (ssNone, ssHorizontal, ssVertical, ssBoth),
//   TAnchors (akLeft, akTop, akRight, akBottom), TEditCharCase, TComboBoxStyle, TShiftState,
//   TModalResult (mrNone = 0, mrOk = 1, mrCancel = 2, ...).
#pragma once

#include "toolkit/Sets.h"

struct TEnumInfo;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TVerticalAlignment { taAlignTop, taAlignBottom, taVerticalCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };
enum TBiDiMode { bdLeftToRight, bdRightToLeft, bdRightToLeftNoAlign, bdRightToLeftReadingOnly };
enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
using TPanelBevel = TBevelCut;
enum TBevelKind { bkNone, bkTile, bkSoft, bkFlat };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
using TBorderStyle = TFormBorderStyle;
enum TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = SetOf<TBorderIcon>;
enum TPosition {
    poDesigned,
    poDefault,
    poDefaultPosOnly,
    poDefaultSizeOnly,
    poScreenCenter,
    poDesktopCenter,
    poMainFormCenter,
    poOwnerFormCenter
};
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TAnchorKind { akLeft, akTop, akRight, akBottom };
using TAnchors = SetOf<TAnchorKind>;
enum TEditCharCase { ecNormal, ecUpperCase, ecLowerCase };
enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };
enum TShiftStateItem { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
using TShiftState = SetOf<TShiftStateItem>;

using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;
constexpr TModalResult mrAll = 8;
constexpr TModalResult mrNoToAll = 9;
constexpr TModalResult mrYesToAll = 10;

namespace kv::toolkit {
extern const TEnumInfo AlignInfo;
extern const TEnumInfo AlignmentInfo;
extern const TEnumInfo VerticalAlignmentInfo;
extern const TEnumInfo TextLayoutInfo;
extern const TEnumInfo BiDiModeInfo;
extern const TEnumInfo BevelCutInfo;
extern const TEnumInfo BevelKindInfo;
extern const TEnumInfo BorderStyleInfo;
extern const TEnumInfo BorderIconInfo;
extern const TEnumInfo PositionInfo;
extern const TEnumInfo WindowStateInfo;
extern const TEnumInfo FormStyleInfo;
extern const TEnumInfo ScrollStyleInfo;
extern const TEnumInfo AnchorKindInfo;
extern const TEnumInfo EditCharCaseInfo;
extern const TEnumInfo ComboBoxStyleInfo;
extern const TEnumInfo ShiftStateInfo;
} // namespace kv::toolkit

struct TIdentMap;
// Names of the modal results (mrOk, ...) for integer properties that want them.
const TIdentMap* ModalResultIdents();
