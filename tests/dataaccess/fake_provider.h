#pragma once
// A recording fake OLE DB provider for the session-object and statement tests.
//
// Registered under a provider class id for the lifetime of a FakeProvider, it writes down
// every call the data-access layer makes (property sets with their contents, Initialize,
// sessions, commands and their texts) and answers from a script: a failure at a named step,
// property statuses, error records, and the results of each statement text. Every COM object
// it hands out is counted, so a test can check that nothing is left alive after a failure.

#include "platform/oledb/com_lite.h"
#include "platform/oledb/error_records.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fake {

struct RecordedProp {
    DBPROPID id = 0;
    DBPROPOPTIONS options = 0;
    VARTYPE type = VT_EMPTY;
    std::string text;       // VT_BSTR
    std::int64_t value = 0; // integers and Booleans (true = 1)
};

struct RecordedSet {
    std::string where; // "datasource" or "session" or "command"
    GUID set{};
    std::vector<RecordedProp> props;
    const RecordedProp* find(DBPROPID id) const;
};

// One result of a statement: rows affected, or a rowset, or an error.
struct FakeResult {
    DBROWCOUNT rowsAffected = -1;
    bool rowset = false;
    std::vector<std::string> columns;                // wide-string columns
    std::vector<std::vector<std::string>> rows;      // row values (text)
    HRESULT error = S_OK;                            // failure of GetResult for this result
    std::vector<kv::oledb::ErrorRecordData> records; // posted with the error (or the success)
    // A rowset whose GetData fails for the row with this index (0-based), with rowError.
    int failingRow = -1;
    HRESULT rowError = E_FAIL;
    std::vector<kv::oledb::ErrorRecordData> rowRecords;
};

struct FakeStatement {
    FakeStatement() = default;
    FakeStatement(HRESULT ExecuteResult, std::vector<kv::oledb::ErrorRecordData> ExecuteRecords,
                  std::vector<FakeResult> Results)
        : executeResult(ExecuteResult), executeRecords(std::move(ExecuteRecords)),
          results(std::move(Results)) {}

    HRESULT executeResult = S_OK; // failure of Execute itself
    std::vector<kv::oledb::ErrorRecordData> executeRecords;
    std::vector<FakeResult> results; // walked through IMultipleResults
    // Written into the output parameters (by 1-based ordinal) at execution, as text.
    std::map<DBORDINAL, std::string> outputs;
};

struct FakeState {
    // Script
    std::string failAt; // step name that fails with failResult
    HRESULT failResult = E_FAIL;
    std::vector<kv::oledb::ErrorRecordData> failRecords;
    std::map<int, std::vector<DBPROPSTATUS>> statuses; // by SetProperties call number (0-based)
    std::string currentCatalog = "master";
    std::string dbmsName = "Microsoft SQL Server";
    std::string dbmsVer = "08.00.2039";
    std::string providerName = "Fake Provider";
    std::string providerVer = "08.10.1234";
    std::map<std::string, FakeStatement> statements; // by command text
    std::function<void(const std::string&)> onExecute;
    // Runs when the layer creates a parameter accessor, before it executes.
    std::function<void()> onCreateAccessor;
    // By command text: written into the parameter buffer when that statement's Execute fails.
    std::map<std::string, std::vector<DBSTATUS>> paramStatuses;

    // Log
    std::vector<std::string> calls;
    std::vector<RecordedSet> sets;
    std::vector<std::string> executed;
    int liveObjects = 0;
    int fetchCalls = 0;
    std::vector<DBROWCOUNT> fetchSizes;
    std::vector<std::string> paramValues; // values bound at the last execution, as text
    std::vector<DBTYPE> paramTypes;       // their types (without DBTYPE_BYREF)
    std::vector<DBPARAMIO> paramIO;       // and directions

    bool fails(const std::string& step);
};

// Registers the fake under clsid while alive.
class FakeProvider {
public:
    explicit FakeProvider(const CLSID& clsid);
    ~FakeProvider();
    FakeProvider(const FakeProvider&) = delete;
    FakeProvider& operator=(const FakeProvider&) = delete;

    FakeState& state() { return *state_; }
    std::shared_ptr<FakeState> shared() { return state_; }

private:
    std::shared_ptr<FakeState> state_;
    kv::oledb::ScopedClassRegistration registration_;
};

} // namespace fake
