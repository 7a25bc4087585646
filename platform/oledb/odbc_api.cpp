// The ODBC calls of the ODBC transport (see odbc_api.h). "odbc_system.h" is the system's ODBC
// declarations: the build picks the POSIX (unixODBC) or the Windows form of that header.
#include "platform/oledb/odbc_api.h"

#include "odbc_system.h"
#include "platform/Unicode.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace kv::oledb::odbc {
namespace {

static_assert(sizeof(SQLWCHAR) == 2, "the ODBC wide calls take UTF-16 units");

// Microsoft's driver-specific diagnostic fields of SQL Server messages (SQLGetDiagField).
constexpr SQLSMALLINT kDiagSsMsgState = -1150;
constexpr SQLSMALLINT kDiagSsSeverity = -1151;
constexpr SQLSMALLINT kDiagSsSrvName = -1152;
constexpr SQLSMALLINT kDiagSsProcName = -1153;
constexpr SQLSMALLINT kDiagSsLine = -1154;

const SQLWCHAR* wide(const std::u16string& text) {
    return reinterpret_cast<const SQLWCHAR*>(text.c_str());
}

std::string narrow(const SQLWCHAR* text, std::size_t units) {
    std::u16string u(units, u'\0');
    for (std::size_t i = 0; i < units; ++i) {
        u[i] = static_cast<char16_t>(text[i]);
    }
    return platform::utf16ToUtf8(u);
}

std::string narrowTerminated(const SQLWCHAR* text, std::size_t capacity) {
    std::size_t n = 0;
    while (n < capacity && text[n]) {
        ++n;
    }
    return narrow(text, n);
}

Result resultOf(SQLRETURN rc) {
    switch (rc) {
    case SQL_SUCCESS:
        return Result::Ok;
    case SQL_SUCCESS_WITH_INFO:
        return Result::Info;
    case SQL_NO_DATA:
        return Result::NoData;
    case SQL_ERROR:
    case SQL_INVALID_HANDLE:
        return Result::Error;
    default:
        return Result::Other;
    }
}

SQLSMALLINT handleType(HandleKind kind) {
    switch (kind) {
    case HandleKind::Environment:
        return SQL_HANDLE_ENV;
    case HandleKind::Connection:
        return SQL_HANDLE_DBC;
    case HandleKind::Statement:
        break;
    }
    return SQL_HANDLE_STMT;
}

SqlKind kindOf(SQLSMALLINT type) {
    switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
        return SqlKind::Char;
    case SQL_LONGVARCHAR:
        return SqlKind::LongChar;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
        return SqlKind::WideChar;
    case SQL_WLONGVARCHAR:
        return SqlKind::LongWideChar;
    case SQL_TINYINT:
        return SqlKind::TinyInt;
    case SQL_SMALLINT:
        return SqlKind::SmallInt;
    case SQL_INTEGER:
        return SqlKind::Integer;
    case SQL_BIGINT:
        return SqlKind::BigInt;
    case SQL_BIT:
        return SqlKind::Bit;
    case SQL_REAL:
        return SqlKind::Real;
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return SqlKind::Double;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
        return SqlKind::Decimal;
    case SQL_TYPE_TIMESTAMP:
    case SQL_TIMESTAMP:
    case SQL_DATETIME:
        return SqlKind::Timestamp;
    case SQL_BINARY:
    case SQL_VARBINARY:
        return SqlKind::Binary;
    case SQL_LONGVARBINARY:
        return SqlKind::LongBinary;
    case SQL_GUID:
        return SqlKind::Guid;
    default:
        return SqlKind::Other;
    }
}

// An integer diagnostic field; nullopt when the driver does not give it. Some driver managers
// answer success for fields they do not keep without writing the buffer, so a value is only
// taken when it changed.
std::optional<std::int32_t> integerField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record,
                                         SQLSMALLINT field) {
    SQLINTEGER value = INT_MIN;
    // A positive buffer length: FreeTDS refuses the negative SQL_IS_INTEGER.
    const SQLRETURN rc = SQLGetDiagFieldW(type, handle, record, field, &value,
                                          static_cast<SQLSMALLINT>(sizeof value), nullptr);
    if (!SQL_SUCCEEDED(rc) || value == INT_MIN) {
        return std::nullopt;
    }
    return value;
}

std::string textField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLSMALLINT field) {
    SQLWCHAR text[512] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagFieldW(type, handle, record, field, text,
                                          sizeof text - sizeof(SQLWCHAR), &length);
    if (!SQL_SUCCEEDED(rc)) {
        return {};
    }
    return narrowTerminated(text, sizeof text / sizeof text[0]);
}

constexpr std::size_t kIndicatorBytes = sizeof(SQLLEN);

SQLLEN& indicatorOf(std::vector<unsigned char>& buffer) {
    return *reinterpret_cast<SQLLEN*>(buffer.data());
}

SQLLEN indicatorOf(const std::vector<unsigned char>& buffer) {
    SQLLEN value = 0;
    std::memcpy(&value, buffer.data(), sizeof value);
    return value;
}

} // namespace

Handle allocEnvironment() {
    SQLHANDLE env = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
        return nullptr;
    }
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION,
                  reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_OV_ODBC3)), 0);
    return env;
}

Handle allocConnection(Handle environment) {
    SQLHANDLE dbc = SQL_NULL_HANDLE;
    if (!environment || !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, environment, &dbc))) {
        return nullptr;
    }
    return dbc;
}

Handle allocStatement(Handle connection) {
    SQLHANDLE statement = SQL_NULL_HANDLE;
    if (!connection || !SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection, &statement))) {
        return nullptr;
    }
    return statement;
}

void freeHandle(HandleKind kind, Handle handle) {
    if (handle) {
        SQLFreeHandle(handleType(kind), handle);
    }
}

std::vector<DiagRecord> diagnostics(HandleKind kind, Handle handle) {
    std::vector<DiagRecord> out;
    if (!handle) {
        return out;
    }
    const SQLSMALLINT type = handleType(kind);
    for (SQLSMALLINT i = 1; i < 1000; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        std::vector<SQLWCHAR> text(1024);
        SQLSMALLINT length = 0;
        SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, text.data(),
                                      static_cast<SQLSMALLINT>(text.size()), &length);
        if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
            text.assign(static_cast<std::size_t>(length) + 1, 0);
            rc = SQLGetDiagRecW(type, handle, i, state, &native, text.data(),
                                static_cast<SQLSMALLINT>(text.size()), &length);
        }
        if (!SQL_SUCCEEDED(rc)) {
            break;
        }
        DiagRecord r;
        r.sqlState = narrowTerminated(state, 5);
        r.native = native;
        r.text = narrowTerminated(text.data(), text.size());
        r.msgState = integerField(type, handle, i, kDiagSsMsgState);
        r.severity = integerField(type, handle, i, kDiagSsSeverity);
        // An unsigned 16-bit value; the rest of the buffer shows whether it was written.
        std::uint32_t line = 0xFFFFFFFFu;
        if (SQL_SUCCEEDED(SQLGetDiagFieldW(type, handle, i, kDiagSsLine, &line,
                                           static_cast<SQLSMALLINT>(sizeof line), nullptr)) &&
            line != 0xFFFFFFFFu) {
            r.line = static_cast<std::uint16_t>(line & 0xFFFFu);
        }
        r.server = textField(type, handle, i, kDiagSsSrvName);
        r.procedure = textField(type, handle, i, kDiagSsProcName);
        out.push_back(std::move(r));
    }
    return out;
}

void setLoginTimeout(Handle connection, unsigned seconds) {
    SQLSetConnectAttrW(connection, SQL_ATTR_LOGIN_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0);
}

void setPacketSize(Handle connection, unsigned bytes) {
    SQLSetConnectAttrW(connection, SQL_ATTR_PACKET_SIZE,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(bytes)), 0);
}

Result driverConnect(Handle connection, const std::u16string& connectionString) {
    return resultOf(SQLDriverConnectW(connection, nullptr,
                                      const_cast<SQLWCHAR*>(wide(connectionString)), SQL_NTS,
                                      nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
}

void disconnect(Handle connection) {
    if (connection) {
        SQLDisconnect(connection);
    }
}

bool connectionDead(Handle connection) {
    SQLUINTEGER dead = SQL_CD_FALSE;
    if (!connection || !SQL_SUCCEEDED(SQLGetConnectAttrW(connection, SQL_ATTR_CONNECTION_DEAD,
                                                         &dead, 0, nullptr))) {
        return false;
    }
    return dead == SQL_CD_TRUE;
}

std::string currentCatalog(Handle connection) {
    SQLWCHAR name[260] = {};
    SQLINTEGER length = 0;
    if (!connection ||
        !SQL_SUCCEEDED(SQLGetConnectAttrW(connection, SQL_ATTR_CURRENT_CATALOG, name,
                                          sizeof name - sizeof(SQLWCHAR), &length))) {
        return {};
    }
    return narrowTerminated(name, sizeof name / sizeof name[0]);
}

std::string infoText(Handle connection, Info which) {
    SQLUSMALLINT type = SQL_DRIVER_NAME;
    switch (which) {
    case Info::DriverName:
        type = SQL_DRIVER_NAME;
        break;
    case Info::ServerName:
        type = SQL_SERVER_NAME;
        break;
    case Info::DbmsVersion:
        type = SQL_DBMS_VER;
        break;
    }
    SQLWCHAR text[260] = {};
    SQLSMALLINT length = 0;
    if (!connection || !SQL_SUCCEEDED(SQLGetInfoW(connection, type, text,
                                                  sizeof text - sizeof(SQLWCHAR), &length))) {
        return {};
    }
    return narrowTerminated(text, sizeof text / sizeof text[0]);
}

void setQueryTimeout(Handle statement, unsigned seconds) {
    SQLSetStmtAttrW(statement, SQL_ATTR_QUERY_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0);
}

Result execDirect(Handle statement, const std::u16string& text) {
    return resultOf(SQLExecDirectW(statement, const_cast<SQLWCHAR*>(wide(text)), SQL_NTS));
}

Result moreResults(Handle statement) {
    return resultOf(SQLMoreResults(statement));
}

Result fetch(Handle statement) {
    return resultOf(SQLFetch(statement));
}

Result cancel(Handle statement) {
    return resultOf(SQLCancel(statement));
}

Result closeCursor(Handle statement) {
    return resultOf(SQLFreeStmt(statement, SQL_CLOSE));
}

int resultColumns(Handle statement) {
    SQLSMALLINT count = 0;
    if (!statement || !SQL_SUCCEEDED(SQLNumResultCols(statement, &count))) {
        return 0;
    }
    return count;
}

long long rowCount(Handle statement) {
    SQLLEN count = -1;
    if (!statement || !SQL_SUCCEEDED(SQLRowCount(statement, &count))) {
        return -1;
    }
    return count;
}

ColumnInfo describeColumn(Handle statement, int column) {
    ColumnInfo info;
    SQLWCHAR name[260] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT decimals = 0;
    SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
    if (!SQL_SUCCEEDED(SQLDescribeColW(statement, static_cast<SQLUSMALLINT>(column), name,
                                       static_cast<SQLSMALLINT>(sizeof name / sizeof name[0] - 1),
                                       &nameLength, &type, &size, &decimals, &nullable))) {
        return info;
    }
    info.name = narrowTerminated(name, sizeof name / sizeof name[0]);
    info.kind = kindOf(type);
    info.size = size;
    info.decimals = decimals;
    info.nullableKnown = nullable != SQL_NULLABLE_UNKNOWN;
    info.nullable = nullable != SQL_NO_NULLS;
    SQLLEN updatable = SQL_ATTR_READONLY;
    if (SQL_SUCCEEDED(SQLColAttributeW(statement, static_cast<SQLUSMALLINT>(column),
                                       SQL_DESC_UPDATABLE, nullptr, 0, nullptr, &updatable))) {
        info.updatable = updatable != SQL_ATTR_READONLY;
    }
    return info;
}

Result getData(Handle statement, int column, Value::Kind as, Value& out) {
    out = Value{};
    const auto col = static_cast<SQLUSMALLINT>(column);
    SQLLEN indicator = 0;
    SQLRETURN rc = SQL_ERROR;
    switch (as) {
    case Value::Kind::Int: {
        SQLBIGINT v = 0;
        rc = SQLGetData(statement, col, SQL_C_SBIGINT, &v, sizeof v, &indicator);
        out.kind = Value::Kind::Int;
        out.i = v;
        break;
    }
    case Value::Kind::Double: {
        SQLDOUBLE v = 0;
        rc = SQLGetData(statement, col, SQL_C_DOUBLE, &v, sizeof v, &indicator);
        out.kind = Value::Kind::Double;
        out.d = v;
        break;
    }
    case Value::Kind::Bit: {
        unsigned char v = 0;
        rc = SQLGetData(statement, col, SQL_C_BIT, &v, sizeof v, &indicator);
        out.kind = Value::Kind::Bit;
        out.i = v ? 1 : 0;
        break;
    }
    case Value::Kind::Timestamp: {
        SQL_TIMESTAMP_STRUCT v{};
        rc = SQLGetData(statement, col, SQL_C_TYPE_TIMESTAMP, &v, sizeof v, &indicator);
        out.kind = Value::Kind::Timestamp;
        out.ts = {v.year, v.month, v.day, v.hour, v.minute, v.second, v.fraction};
        break;
    }
    case Value::Kind::Guid: {
        SQLGUID v{};
        static_assert(sizeof v == sizeof out.guid);
        rc = SQLGetData(statement, col, SQL_C_GUID, &v, sizeof v, &indicator);
        out.kind = Value::Kind::Guid;
        std::memcpy(out.guid, &v, sizeof v);
        break;
    }
    case Value::Kind::Bytes:
    case Value::Kind::Text: {
        // Long values come in pieces: each call gives the next part, with SQL_SUCCESS_WITH_INFO
        // (01004) while more is left.
        const bool text = as == Value::Kind::Text;
        std::vector<unsigned char> piece(8192);
        std::string bytes;
        std::u16string units;
        for (;;) {
            rc = SQLGetData(statement, col, text ? SQL_C_WCHAR : SQL_C_BINARY, piece.data(),
                            static_cast<SQLLEN>(piece.size()), &indicator);
            if (rc == SQL_NO_DATA) {
                rc = SQL_SUCCESS;
                break;
            }
            if (!SQL_SUCCEEDED(rc) || indicator == SQL_NULL_DATA) {
                break;
            }
            // What this piece holds: all of it when the value was cut, else what is left.
            const std::size_t room = text ? piece.size() - sizeof(SQLWCHAR) : piece.size();
            const bool cut =
                indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) > room;
            const std::size_t n = cut ? room : static_cast<std::size_t>(indicator);
            if (text) {
                for (std::size_t k = 0; k + sizeof(SQLWCHAR) <= n; k += sizeof(SQLWCHAR)) {
                    SQLWCHAR unit;
                    std::memcpy(&unit, piece.data() + k, sizeof unit);
                    units.push_back(static_cast<char16_t>(unit));
                }
            } else {
                bytes.append(reinterpret_cast<const char*>(piece.data()), n);
            }
            if (rc == SQL_SUCCESS || !cut) {
                break;
            }
        }
        out.kind = as;
        out.bytes = text ? platform::utf16ToUtf8(units) : std::move(bytes);
        break;
    }
    case Value::Kind::Null:
        return Result::Error;
    }
    if (SQL_SUCCEEDED(rc) && indicator == SQL_NULL_DATA) {
        out = Value{};
    }
    return resultOf(rc);
}

Result bindParameters(Handle statement, std::vector<Parameter>& parameters) {
    SQLFreeStmt(statement, SQL_RESET_PARAMS);
    SQLUSMALLINT number = 0;
    for (Parameter& p : parameters) {
        ++number;
        const Value& v = p.value;
        const bool null = v.kind == Value::Kind::Null;
        SQLSMALLINT cType = SQL_C_WCHAR;
        SQLSMALLINT sqlType = SQL_WVARCHAR;
        SQLULEN columnSize = 0;
        SQLSMALLINT digits = 0;
        std::size_t capacity = 0; // bytes of the value part
        std::size_t length = 0;   // bytes of the input value
        std::vector<unsigned char> data;
        switch (p.kind) {
        case SqlKind::BigInt: {
            cType = SQL_C_SBIGINT;
            sqlType = SQL_BIGINT;
            const SQLBIGINT x = v.i;
            data.resize(sizeof x);
            std::memcpy(data.data(), &x, sizeof x);
            break;
        }
        case SqlKind::Double: {
            cType = SQL_C_DOUBLE;
            sqlType = SQL_DOUBLE;
            columnSize = 15;
            const SQLDOUBLE x = v.d;
            data.resize(sizeof x);
            std::memcpy(data.data(), &x, sizeof x);
            break;
        }
        case SqlKind::Bit: {
            cType = SQL_C_BIT;
            sqlType = SQL_BIT;
            data.assign(1, v.i ? 1 : 0);
            break;
        }
        case SqlKind::Timestamp: {
            cType = SQL_C_TYPE_TIMESTAMP;
            sqlType = SQL_TYPE_TIMESTAMP;
            columnSize = 23;
            digits = 3;
            SQL_TIMESTAMP_STRUCT x{};
            x.year = static_cast<SQLSMALLINT>(v.ts.year);
            x.month = static_cast<SQLUSMALLINT>(v.ts.month);
            x.day = static_cast<SQLUSMALLINT>(v.ts.day);
            x.hour = static_cast<SQLUSMALLINT>(v.ts.hour);
            x.minute = static_cast<SQLUSMALLINT>(v.ts.minute);
            x.second = static_cast<SQLUSMALLINT>(v.ts.second);
            x.fraction = v.ts.fraction;
            data.resize(sizeof x);
            std::memcpy(data.data(), &x, sizeof x);
            break;
        }
        case SqlKind::Binary:
        case SqlKind::LongBinary: {
            cType = SQL_C_BINARY;
            data.assign(v.bytes.begin(), v.bytes.end());
            length = data.size();
            const std::size_t limit = p.size ? p.size : 8000;
            sqlType =
                p.kind == SqlKind::LongBinary || length > limit ? SQL_LONGVARBINARY : SQL_VARBINARY;
            columnSize = sqlType == SQL_VARBINARY ? limit : (length ? length : 1);
            if (p.output) {
                data.resize(std::max(data.size(), limit));
            }
            break;
        }
        default: {
            cType = SQL_C_WCHAR;
            const std::u16string units = platform::utf8ToUtf16(v.bytes);
            length = units.size() * sizeof(SQLWCHAR);
            const std::size_t limit = p.size ? p.size : 4000;
            sqlType = p.kind == SqlKind::LongWideChar || units.size() > limit ? SQL_WLONGVARCHAR
                                                                              : SQL_WVARCHAR;
            columnSize = sqlType == SQL_WVARCHAR ? limit : (units.empty() ? 1 : units.size());
            const std::size_t room = std::max(units.size(), p.output ? limit : 0) + 1;
            data.assign(room * sizeof(SQLWCHAR), 0);
            for (std::size_t k = 0; k < units.size(); ++k) {
                const SQLWCHAR unit = static_cast<SQLWCHAR>(units[k]);
                std::memcpy(data.data() + k * sizeof unit, &unit, sizeof unit);
            }
            break;
        }
        }
        capacity = data.size();
        p.buffer.assign(kIndicatorBytes + capacity, 0);
        std::memcpy(p.buffer.data() + kIndicatorBytes, data.data(), capacity);
        SQLLEN& indicator = indicatorOf(p.buffer);
        const bool variable = cType == SQL_C_WCHAR || cType == SQL_C_BINARY;
        indicator = null ? SQL_NULL_DATA : variable ? static_cast<SQLLEN>(length) : 0;
        const SQLRETURN rc =
            SQLBindParameter(statement, number, p.output ? SQL_PARAM_INPUT_OUTPUT : SQL_PARAM_INPUT,
                             cType, sqlType, columnSize, digits, p.buffer.data() + kIndicatorBytes,
                             static_cast<SQLLEN>(capacity), &indicator);
        if (!SQL_SUCCEEDED(rc)) {
            return resultOf(rc);
        }
    }
    return Result::Ok;
}

Value parameterValue(const Parameter& p) {
    Value out;
    if (p.buffer.size() < kIndicatorBytes) {
        return out;
    }
    const SQLLEN indicator = indicatorOf(p.buffer);
    if (indicator == SQL_NULL_DATA) {
        return out;
    }
    const unsigned char* data = p.buffer.data() + kIndicatorBytes;
    const std::size_t capacity = p.buffer.size() - kIndicatorBytes;
    const std::size_t length =
        indicator < 0 ? capacity : std::min(capacity, static_cast<std::size_t>(indicator));
    switch (p.kind) {
    case SqlKind::BigInt:
        out.kind = Value::Kind::Int;
        std::memcpy(&out.i, data, sizeof out.i);
        break;
    case SqlKind::Double:
        out.kind = Value::Kind::Double;
        std::memcpy(&out.d, data, sizeof out.d);
        break;
    case SqlKind::Bit:
        out.kind = Value::Kind::Bit;
        out.i = data[0] ? 1 : 0;
        break;
    case SqlKind::Timestamp: {
        SQL_TIMESTAMP_STRUCT x{};
        std::memcpy(&x, data, sizeof x);
        out.kind = Value::Kind::Timestamp;
        out.ts = {x.year, x.month, x.day, x.hour, x.minute, x.second, x.fraction};
        break;
    }
    case SqlKind::Binary:
    case SqlKind::LongBinary:
        out.kind = Value::Kind::Bytes;
        out.bytes.assign(reinterpret_cast<const char*>(data), length);
        break;
    default: {
        std::u16string units;
        const std::size_t room = capacity >= sizeof(SQLWCHAR) ? capacity - sizeof(SQLWCHAR) : 0;
        for (std::size_t k = 0; k + sizeof(SQLWCHAR) <= std::min(length, room);
             k += sizeof(SQLWCHAR)) {
            SQLWCHAR unit;
            std::memcpy(&unit, data + k, sizeof unit);
            units.push_back(static_cast<char16_t>(unit));
        }
        out.kind = Value::Kind::Text;
        out.bytes = platform::utf16ToUtf8(units);
        break;
    }
    }
    return out;
}

} // namespace kv::oledb::odbc
