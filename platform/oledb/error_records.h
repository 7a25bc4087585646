// Error objects as OLE DB providers post them: one object per failing (or message-carrying)
// call, holding the call's description (IErrorInfo) and a list of records (IErrorRecords),
// each with its basic information and, for server messages, a custom error object answering
// ISQLServerErrorInfo. The portable provider builds its errors with this; fake providers in
// tests use it to post exactly the records a scenario needs.
#pragma once

#include "platform/oledb/com_lite.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::oledb {

// One SQL Server message (the fields of SSERRORINFO).
struct SqlServerMessage {
    std::int32_t number = 0;
    std::uint8_t state = 0;
    std::uint8_t severityClass = 0;
    std::string server;
    std::string procedure;
    std::uint16_t line = 0;
    std::string message;
};

struct ErrorRecordData {
    HRESULT result = E_FAIL;     // ERRORINFO::hrError
    IID interfaceId = GUID_NULL; // ERRORINFO::iid: the interface whose call failed
    DWORD minor = 0;             // ERRORINFO::dwMinor (the provider puts the native number here)
    std::string description;     // the record's IErrorInfo description
    std::optional<SqlServerMessage> sqlServer; // answered through ISQLServerErrorInfo when set
};

// Builds an error object: its own description is that of the last record (or `description`
// when given), its records are `records` in index order.
ComPtr<IErrorInfo> makeErrorObject(const std::vector<ErrorRecordData>& records,
                                   std::string_view description = {});

// Builds the object and makes it the thread's current error object (SetErrorInfo). An empty
// list clears the thread's error object instead.
void postErrorRecords(const std::vector<ErrorRecordData>& records,
                      std::string_view description = {});

// Reads the thread's current error object back (GetErrorInfo, which also clears it): the
// records in index order. Empty when there is none. Test helper for both sides of the seam.
struct ReadErrorRecord {
    ERRORINFO basic{};
    std::string description;
    std::optional<SqlServerMessage> sqlServer;
};
struct ReadErrorObject {
    bool present = false;
    std::string description;
    std::vector<ReadErrorRecord> records;
};
ReadErrorObject takeErrorObject();

} // namespace kv::oledb
