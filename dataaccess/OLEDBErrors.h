#pragma once
// Errors reported by an OLE DB provider, and SQL Server's errors in particular.
//
// EOLEDBError carries what every provider reports: the result code of the failing call, the
// interface that recorded the error and one entry per error record. EMSError adds the fields
// SQL Server gives for each message (number, state, class, server, procedure, line) and answers
// the "is the link gone?" question from them.
//
// BuildProviderError turns the thread's COM error object into one of these; the session
// object raises it (or hands it to the information-message path for a successful call).

#include "dataaccess/DAError.h"
#include "platform/oledb/com_lite.h"
#include "platform/oledb/oledb.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kv::dataaccess {

class EOLEDBError : public EDAError {
public:
    EOLEDBError(std::int32_t ErrorCode, kv::oledb::OleString WideMessage);
    EOLEDBError(const EOLEDBError& Other);
    ~EOLEDBError() override;

    std::string ClassName() const override { return "EOLEDBError"; }

    HRESULT ProviderResult() const { return FProviderResult; }
    void SetProviderResult(HRESULT Value) { FProviderResult = Value; }
    // Set only on the entries of ErrorRecords.
    const GUID& SourceInterfaceId() const { return FSourceInterfaceId; }
    void SetSourceInterfaceId(const GUID& Value) { FSourceInterfaceId = Value; }

    int ErrorRecordCount() const { return static_cast<int>(FErrorRecords.size()); }
    const EOLEDBError& ErrorRecords(int Index) const;
    void AddErrorRecord(std::unique_ptr<EOLEDBError> Record);

    // The message as UTF-16; Message() is its UTF-8 form.
    const kv::oledb::OleString& WideMessage() const { return FWideMessage; }
    void SetWideMessage(kv::oledb::OleString Value);

    // Copies ProviderResult, SourceInterfaceId and Component and deep-copies ErrorRecords.
    virtual void AssignFrom(const EOLEDBError& Source);

    std::unique_ptr<EDAError> Clone() const override;
    [[noreturn]] void Raise() const override;

private:
    HRESULT FProviderResult = S_OK;
    GUID FSourceInterfaceId = GUID_NULL;
    std::vector<std::unique_ptr<EOLEDBError>> FErrorRecords;
    kv::oledb::OleString FWideMessage;
};

// SQL Server's own description of one message.
struct TMSErrorFields {
    std::int32_t ErrorNumber = 0;
    std::string ServerName;
    std::string ProcedureName;
    std::uint8_t State = 0;
    std::uint8_t SeverityClass = 0;
    std::uint16_t LineNumber = 0;
    std::string RecordMessage;
};

class EMSError : public EOLEDBError {
public:
    // ErrorCode is the server's error number.
    EMSError(const TMSErrorFields& Fields, kv::oledb::OleString WideMessage);
    EMSError(const EMSError& Other);
    ~EMSError() override;

    std::string ClassName() const override { return "EMSError"; }

    std::int32_t ErrorNumber() const { return FFields.ErrorNumber; }
    const std::string& ServerName() const { return FFields.ServerName; }
    const std::string& ProcedureName() const { return FFields.ProcedureName; }
    std::uint8_t State() const { return FFields.State; }
    std::uint8_t SeverityClass() const { return FFields.SeverityClass; }
    std::uint16_t LineNumber() const { return FFields.LineNumber; }
    const std::string& RecordMessage() const { return FFields.RecordMessage; }
    const TMSErrorFields& Fields() const { return FFields; }

    // Class 20 and up, and the client-side network failures (class 16 state 1 with number 17
    // or less, 233, 64 or 10054; 10054 also with class 10).
    bool IsFatal() const override;
    // A unique index or primary key refused the row (2627).
    bool IsDuplicateKey() const override;
    void AssignFrom(const EOLEDBError& Source) override;

    std::unique_ptr<EDAError> Clone() const override;
    [[noreturn]] void Raise() const override;

private:
    TMSErrorFields FFields;
};

// Text that a failing call's caller adds to the error (the property report of a failing
// property set); empty for none.
using TStatusCallback = std::function<std::string(HRESULT)>;

// The error object of a provider call that returned hr, built from the thread's current COM
// error object (which is consumed). Null when there is nothing to report: hr is S_OK and no
// record carried a SQL Server message. The component becomes the error's Component.
std::unique_ptr<EOLEDBError> BuildProviderError(HRESULT hr, TComponent* Component,
                                                const TStatusCallback& StatusCallback = {});

// Appends Text after a line feed to the message of E (both forms).
void AppendErrorText(EOLEDBError& E, const std::string& Text);

} // namespace kv::dataaccess
