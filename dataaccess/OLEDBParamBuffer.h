#pragma once
// The parameter buffer of one execution: one binding per "?" marker of the command text,
// each bound to the statement parameter of the marker's name, in the provider type that
// matches the parameter's DataType (or, for an untyped parameter, its value).
//
// Why by name: the scan gives one marker per occurrence, while Params holds each name once,
// so "select :x as a, :x as b" has two markers and one parameter; both markers take its value.
//
// Input texts and byte strings are bound by reference to storage the buffer owns, so values
// of any length reach the provider whole. Output and input/output parameters get room in the
// buffer itself for the provider to write into; ReadOutput copies what came back into Params.

#include "dataaccess/DAParams.h"
#include "dataaccess/ParamScan.h"
#include "platform/oledb/com_lite.h"
#include "platform/oledb/oledb.h"

#include <string>
#include <vector>

namespace kv::dataaccess {

class TOLEDBParamBuffer {
public:
    // Binds every marker whose name (or, failing that, position) finds a parameter. Binding
    // stops at the first marker without one; the provider then reports the missing value.
    void Bind(const TParamDescs& Descs, TDAParams& Params);

    bool Empty() const { return FBindings.empty(); }
    const std::vector<DBBINDING>& Bindings() const { return FBindings; }
    void* Data() { return FData.data(); }

    // The status the provider wrote back for binding Index.
    DBSTATUS Status(std::size_t Index) const;
    // The parameter bound at Index (null when unbound).
    TDAParam* Param(std::size_t Index) const { return FParams.at(Index); }
    // Copies the values of output and input/output parameters back into Params. Raises
    // nothing; a truncated value is reported by the caller from its status.
    void ReadOutput();

    // Room for an output text when the parameter's own value is shorter (UTF-16 units).
    static constexpr std::size_t kOutputTextUnits = 4000;

private:
    std::vector<DBBINDING> FBindings;
    std::vector<TDAParam*> FParams;
    std::vector<unsigned char> FData;
    std::vector<kv::oledb::OleString> FTexts; // input texts bound by reference
    std::vector<std::string> FBytes;          // input byte strings bound by reference
};

// The provider type a parameter is bound as.
DBTYPE ParamBindType(const TDAParam& Param);

} // namespace kv::dataaccess
