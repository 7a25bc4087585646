// The ODBC calls of the portable provider's ODBC transport, behind plain C++ types. Only the
// wide forms of the calls are made (Wine's ODBC library has no working 8-bit forms), and no ODBC
// header is seen outside odbc_api.cpp: the POSIX ODBC headers declare Windows type names of their
// own (DWORD, BOOL, ...) that clash with the OLE DB declarations of the seam.
//
// Handles are opaque pointers. Every call is made on the calling thread; `cancel` is the one
// call another thread may make on a statement while it runs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::oledb::odbc {

using Handle = void*;

enum class Result { Ok, Info, NoData, Error, Other };

inline bool succeeded(Result r) {
    return r == Result::Ok || r == Result::Info;
}

// One diagnostic record with SQL Server's fields where the driver gives them (Microsoft's
// driver-specific fields SQL_DIAG_SS_*); a field the driver does not give is empty.
struct DiagRecord {
    std::string sqlState;
    std::int32_t native = 0;
    std::string text; // with the driver's bracketed prefixes ("[FreeTDS][SQL Server]...")
    std::optional<std::int32_t> msgState;
    std::optional<std::int32_t> severity;
    std::optional<std::uint16_t> line;
    std::string server;
    std::string procedure;
};

enum class HandleKind { Environment, Connection, Statement };

// An ODBC 3 environment; null when the driver manager cannot be loaded.
Handle allocEnvironment();
Handle allocConnection(Handle environment);
Handle allocStatement(Handle connection);
void freeHandle(HandleKind kind, Handle handle);

// The records of the last call on the handle, in order.
std::vector<DiagRecord> diagnostics(HandleKind kind, Handle handle);

// Connection attributes set before connecting; 0 means "none" for the time-out.
void setLoginTimeout(Handle connection, unsigned seconds);
void setPacketSize(Handle connection, unsigned bytes);
Result driverConnect(Handle connection, const std::u16string& connectionString);
void disconnect(Handle connection);
// SQL_ATTR_CONNECTION_DEAD; false where the driver does not say.
bool connectionDead(Handle connection);
std::string currentCatalog(Handle connection);
enum class Info { DriverName, ServerName, DbmsVersion };
std::string infoText(Handle connection, Info which);

// Statements.
void setQueryTimeout(Handle statement, unsigned seconds);
Result execDirect(Handle statement, const std::u16string& text);
Result moreResults(Handle statement);
Result fetch(Handle statement);
Result cancel(Handle statement);
// Drops the results of the statement (SQL_CLOSE).
Result closeCursor(Handle statement);
int resultColumns(Handle statement);
long long rowCount(Handle statement);

// The SQL types of result columns and parameters, as far as the provider tells them apart.
enum class SqlKind {
    Char,
    WideChar,
    LongChar,
    LongWideChar,
    TinyInt,
    SmallInt,
    Integer,
    BigInt,
    Bit,
    Real,
    Double,
    Decimal,
    Timestamp,
    Binary,
    LongBinary,
    Guid,
    Other,
};

struct ColumnInfo {
    std::string name;
    SqlKind kind = SqlKind::Other;
    std::uint64_t size = 0; // characters for text, bytes for binary, digits for numbers
    int decimals = 0;
    bool nullable = true; // SQL_NULLABLE or SQL_NULLABLE_UNKNOWN
    bool nullableKnown = false;
    bool updatable = false;
};
ColumnInfo describeColumn(Handle statement, int column);

// A value read with SQLGetData, or bound as a parameter.
struct Timestamp {
    int year = 0;
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::uint32_t fraction = 0; // nanoseconds
};
struct Value {
    enum class Kind { Null, Int, Double, Bit, Timestamp, Guid, Bytes, Text };
    Kind kind = Kind::Null;
    std::int64_t i = 0;
    double d = 0;
    Timestamp ts;
    unsigned char guid[16] = {}; // the layout of a GUID structure
    std::string bytes;           // bytes, or UTF-8 text
};
// Reads column `column` of the current row in the form `as` asks for (Int, Double, Bit,
// Timestamp, Guid, Bytes, Text); long values are read whole. Error: the driver refused.
Result getData(Handle statement, int column, Value::Kind as, Value& out);

// A parameter of a procedure call, of the kinds WideChar, LongWideChar, BigInt, Double, Bit,
// Binary, Timestamp. bindParameters fills `buffer` with the storage the driver reads and writes
// (the length indicator, then the value); the driver keeps its address until the call's results
// are done, so the parameters must live that long (moving a Parameter keeps its buffer).
struct Parameter {
    SqlKind kind = SqlKind::WideChar;
    std::uint64_t size = 0; // column size (characters, bytes); 0 for the fixed types
    bool output = false;
    Value value;
    std::vector<unsigned char> buffer;
};
Result bindParameters(Handle statement, std::vector<Parameter>& parameters);
// The value of a bound output parameter after the call's results are done.
Value parameterValue(const Parameter& parameter);

} // namespace kv::oledb::odbc
