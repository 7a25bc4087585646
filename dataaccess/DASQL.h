#pragma once
// TCustomDASQL: the statement object a dataset owns. It holds the SQL lines, the parameters,
// the macros and the provider command, and keeps them in step: every change of the lines
// rescans the macros, rebuilds the final text and hands it to the command, which scans it for
// parameters when it differs from the text it holds; with ParamCheck the parameters are then
// rebuilt from what the scan found.

#include "dataaccess/DAParams.h"
#include "dataaccess/Macros.h"
#include "dataaccess/OLEDBCommand.h"
#include "toolkit/Component.h"
#include "toolkit/Strings.h"

#include <functional>

namespace kv::dataaccess {

class TCustomDASQL : public TComponent {
public:
    explicit TCustomDASQL(TComponent* AOwner);
    ~TCustomDASQL() override;
    std::string ClassName() const override { return "TCustomDASQL"; }

    TStringList* SQL() { return &FSQL; }
    TDAParams& Params() { return FParams; }
    const TDAParams& Params() const { return FParams; }
    TMacros& Macros() { return FMacros; }
    bool ParamCheck() const { return FParamCheck; }
    void SetParamCheck(bool Value);
    TOLEDBCommand& Command() { return FCommand; }
    const TOLEDBCommand& Command() const { return FCommand; }

    // The lines joined with CR LF after every line, trailing characters below 33 removed,
    // macros expanded.
    std::string FinalSQL() const;

    // Runs before the rescan of a change (the dataset closes and unprepares here).
    std::function<void()> BeforeSQLChange;

    // Raises the scan's error again while the lines do not scan. A line the macro or parameter
    // scan refused is already in SQL, so nothing may run until the text is fixed: the command
    // holds no text in the meantime.
    void CheckScanned();

private:
    void SQLChanged();
    void Rescan();
    void ScanAll();

    TStringList FSQL;
    TDAParams FParams;
    TMacros FMacros;
    bool FParamCheck = true;
    bool FScanned = true;
    TOLEDBCommand FCommand;
};

// The text with every trailing character whose code is below 33 removed.
std::string TrimTrailingControls(std::string_view Text);

} // namespace kv::dataaccess
