#pragma once
// The parameter buffer of one execution: one binding per "?" marker of the command text,
// each bound to the statement parameter of the marker's name, in the provider type that
// matches the parameter's DataType (or, for an untyped parameter, its value).
//
// Why by name: the scan gives one marker per occurrence, while Params holds each name once,
// so "select :x as a, :x as b" has two markers and one parameter; both markers take its value.
//
// Texts and byte strings are bound by reference, so values of any length travel whole: an input
// points at storage the buffer owns; for an output the provider puts the address of the whole
// returned value (memory of the task allocator) in its place, which ReadOutput copies into
// Params and frees, as the buffer does with any it still holds when it goes.

#include "dataaccess/DAParams.h"
#include "dataaccess/ParamScan.h"
#include "platform/oledb/com_lite.h"
#include "platform/oledb/oledb.h"

#include <string>
#include <vector>

namespace kv::dataaccess {

class TOLEDBParamBuffer {
public:
    TOLEDBParamBuffer() = default;
    ~TOLEDBParamBuffer();
    TOLEDBParamBuffer(TOLEDBParamBuffer&& Other) noexcept;
    TOLEDBParamBuffer& operator=(TOLEDBParamBuffer&& Other) noexcept;
    TOLEDBParamBuffer(const TOLEDBParamBuffer&) = delete;
    TOLEDBParamBuffer& operator=(const TOLEDBParamBuffer&) = delete;

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

private:
    // Frees the values the provider returned by reference and puts the input addresses back.
    void ReleaseOutputs();

    std::vector<DBBINDING> FBindings;
    std::vector<TDAParam*> FParams;
    std::vector<unsigned char> FData;
    std::vector<kv::oledb::OleString> FTexts; // input texts bound by reference
    std::vector<std::string> FBytes;          // input byte strings bound by reference
    std::vector<const void*> FInputs;         // per binding: the input address it was given
};

// The provider type a parameter is bound as.
DBTYPE ParamBindType(const TDAParam& Param);

} // namespace kv::dataaccess
