#include "dataaccess/DASQL.h"

namespace kv::dataaccess {

std::string TrimTrailingControls(std::string_view Text) {
    std::size_t end = Text.size();
    while (end > 0 && static_cast<unsigned char>(Text[end - 1]) < 33)
        --end;
    return std::string(Text.substr(0, end));
}

TCustomDASQL::TCustomDASQL(TComponent* AOwner) : TComponent(AOwner) {
    FSQL.OnChange = [this](TObject*) { SQLChanged(); };
}

TCustomDASQL::~TCustomDASQL() {
    FSQL.OnChange = nullptr;
}

void TCustomDASQL::SetParamCheck(bool Value) {
    if (Value == FParamCheck)
        return;
    FParamCheck = Value;
    if (FParamCheck)
        Rescan(); // the command scans its text again
}

std::string TCustomDASQL::FinalSQL() const {
    std::string text = TrimTrailingControls(FSQL.Text());
    return FMacros.Count() > 0 ? FMacros.Expand(text) : text;
}

void TCustomDASQL::SQLChanged() {
    if (BeforeSQLChange)
        BeforeSQLChange();
    ScanAll();
}

void TCustomDASQL::ScanAll() {
    FScanned = false;
    try {
        FMacros.Scan(FSQL.Text());
        Rescan();
    } catch (...) {
        FCommand.ClearSQL();
        throw;
    }
    FScanned = true;
}

void TCustomDASQL::CheckScanned() {
    if (!FScanned)
        ScanAll();
}

void TCustomDASQL::Rescan() {
    FCommand.SetSQL(FinalSQL());
    if (FParamCheck) {
        std::vector<std::string> names;
        for (const auto& d : FCommand.ParamDescs())
            names.push_back(d->GetName());
        FParams.Rebuild(names);
    }
}

} // namespace kv::dataaccess
