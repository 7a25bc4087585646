#pragma once
// The data-access layer's fixed English messages, in one table.
//
// Every text the layer raises or appends on its own is here, so that a translation or a check
// against the documented wording touches one file. Texts with printf-style placeholders are
// used with the formatting helper of the raising code; the others are used as they are.

namespace kv::dataaccess {

// SQL text scanning
inline constexpr char SParserUnknownSymbol[] = "Parser: The unknown symbol '";

// Errors built from the provider
inline constexpr char SOLEDBError[] = "OLE DB error occured. Code %Xh";
inline constexpr char SCoInitializeNotCalled[] = ".\r\nCoInitialize has not been called.";
inline constexpr char SOperationAborted[] = "Operation aborted";

// The session object
inline constexpr char SWrongEncrypt[] = "Wrong Encrypt value";
inline constexpr char SWrongNetworkLibrary[] = "Wrong NetworkLibrary value";
inline constexpr char SWrongPacketSize[] = "Wrong PacketSize value";
inline constexpr char SRequiredProviderNotInstalled[] = "Required provider is not installed";
inline constexpr char SWrongProviderName[] = "Wrong provider name";
inline constexpr char SChangingDatabaseToDefault[] =
    "Changing database name to default value is not allowed";
inline constexpr char SUnsupportedIsolationLevel[] = "Unsupported transaction isolation level";
inline constexpr char SPropertyStatusLine[] = "%s\r\n[%d] := $%X. PropId := %d";

// The connection component
inline constexpr char SCannotConnect[] = "Cannot connect to database";
inline constexpr char SConnectionOpen[] = "Cannot perform this operation on an open connection";
inline constexpr char SConnectionNotDefined[] = "Connection is not defined";

// Statements and queries
inline constexpr char SParamNotFound[] = "Parameter '"; // + name + "' not found"
inline constexpr char SFieldNotFound[] = "Field '";     // + name + "' not found"
inline constexpr char STransactionNotAssigned[] = "Transaction not assigned";
inline constexpr char SNoSQLStatement[] = "No SQL statement provided";
inline constexpr char SFetchRowsRange[] = "FetchRows must be 1..10000";
inline constexpr char SNotOneResultSet[] = "Query must return exactly one result set - use Execute";
inline constexpr char SNativeClientForNonBlocking[] =
    "Provider must be SQL Native Client for nonblocking execute";
inline constexpr char SDisconnectedModeServerCursors[] =
    "DisconnectedMode not allowed for server cursors";
// A statement stopped by BreakExec before it reached the provider (the provider's own text).
inline constexpr char SOperationCanceled[] = "Operation canceled";
inline constexpr char SDefaultResultSetOpen[] =
    "Cannot execute command in current transaction context until previous opened DataSet "
    "(CursorType is ctDefaultResultSet) is fetched to end";
inline constexpr char SParameterStatus[] = "Parameter[%d] %s - %s (Status = %Xh).";
inline constexpr char SInvalidParamType[] = "invalid ParamType";
inline constexpr char SInvalidValue[] = "invalid Value";
inline constexpr char SDataTruncated[] = "data truncated";
inline constexpr char SSignMismatch[] = "sign mismatch";
inline constexpr char SDataOverflow[] = "data overflow";
inline constexpr char SCantAllocateReturn[] = "could not allocate memory for return data";
inline constexpr char SIntegrityViolation[] =
    "the data value violates the integrity constraints for the column";
inline constexpr char SSchemaViolation[] =
    "the data value violates the schema's constraint for the column";
inline constexpr char SBadStatus[] = "bad status";
inline constexpr char SUnknownStatus[] = "unknown status";

} // namespace kv::dataaccess
