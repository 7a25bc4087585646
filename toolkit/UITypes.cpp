#include "toolkit/UITypes.h"

#include "toolkit/SysUtils.h"
#include "toolkit/TypInfo.h"

namespace kv::toolkit {
const TEnumInfo AlignInfo{
    "TAlign", {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient", "alCustom"}};
const TEnumInfo AlignmentInfo{"TAlignment", {"taLeftJustify", "taRightJustify", "taCenter"}};
const TEnumInfo VerticalAlignmentInfo{"TVerticalAlignment",
                                      {"taAlignTop", "taAlignBottom", "taVerticalCenter"}};
const TEnumInfo TextLayoutInfo{"TTextLayout", {"tlTop", "tlCenter", "tlBottom"}};
const TEnumInfo BiDiModeInfo{
    "TBiDiMode",
    {"bdLeftToRight", "bdRightToLeft", "bdRightToLeftNoAlign", "bdRightToLeftReadingOnly"}};
const TEnumInfo BevelCutInfo{"TBevelCut", {"bvNone", "bvLowered", "bvRaised", "bvSpace"}};
const TEnumInfo BevelKindInfo{"TBevelKind", {"bkNone", "bkTile", "bkSoft", "bkFlat"}};
const TEnumInfo BorderStyleInfo{
    "TFormBorderStyle",
    {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"}};
const TEnumInfo BorderIconInfo{"TBorderIcon",
                               {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"}};
const TEnumInfo PositionInfo{"TPosition",
                             {"poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly",
                              "poScreenCenter", "poDesktopCenter", "poMainFormCenter",
                              "poOwnerFormCenter"}};
const TEnumInfo WindowStateInfo{"TWindowState", {"wsNormal", "wsMinimized", "wsMaximized"}};
const TEnumInfo FormStyleInfo{"TFormStyle", {"fsNormal", "fsMDIChild", "fsMDIForm", "fsStayOnTop"}};
const TEnumInfo ScrollStyleInfo{"TScrollStyle", {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"}};
const TEnumInfo AnchorKindInfo{"TAnchorKind", {"akLeft", "akTop", "akRight", "akBottom"}};
const TEnumInfo EditCharCaseInfo{"TEditCharCase", {"ecNormal", "ecUpperCase", "ecLowerCase"}};
const TEnumInfo ComboBoxStyleInfo{
    "TComboBoxStyle",
    {"csDropDown", "csSimple", "csDropDownList", "csOwnerDrawFixed", "csOwnerDrawVariable"}};
const TEnumInfo ShiftStateInfo{
    "TShiftStateItem", {"ssShift", "ssAlt", "ssCtrl", "ssLeft", "ssRight", "ssMiddle", "ssDouble"}};
} // namespace kv::toolkit

namespace {

const char* const modalNames[] = {"mrNone",  "mrOk",      "mrCancel",  "mrAbort",
                                  "mrRetry", "mrIgnore",  "mrYes",     "mrNo",
                                  "mrAll",   "mrNoToAll", "mrYesToAll"};

bool modalToIdent(std::int64_t v, std::string& ident) {
    if (v < 0 || v > mrYesToAll)
        return false;
    ident = modalNames[v];
    return true;
}

bool identToModal(std::string_view ident, std::int64_t& v) {
    for (int i = 0; i <= mrYesToAll; ++i)
        if (SameText(modalNames[i], ident)) {
            v = i;
            return true;
        }
    return false;
}

const TIdentMap modalMap{modalToIdent, identToModal};

} // namespace

const TIdentMap* ModalResultIdents() {
    return &modalMap;
}
