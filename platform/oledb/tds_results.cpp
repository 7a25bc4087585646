// Columns and values of db-lib results in the provider's neutral form. Text arrives in UTF-8
// (the login asks for that client character set) and is delivered as wide text; integers,
// floating point, bit, datetime, binary and uniqueidentifier keep their kind; money, decimal
// and numeric arrive as floating point.
#include "platform/oledb/tds_link.h"

#define MSDBLIB 1
#include <sybfront.h>
// sybfront.h must come first.
#include <cstring>
#include <sybdb.h>

namespace kv::oledb::tds {
namespace {

// uniqueidentifier; db-lib's header does not name it.
constexpr int kSybUnique = 36;

// Days since 1900-01-01 to a civil date (proleptic Gregorian; H. Hinnant's algorithm, which
// counts from 1970-01-01, 25567 days later).
void civilFromDays(long long days1900, int& y, unsigned& m, unsigned& d) {
    const long long z = days1900 - 25567 + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yy + (m <= 2 ? 1 : 0));
}

DBTIMESTAMP timestampOf(long long days, long long milliseconds) {
    DBTIMESTAMP ts{};
    int y = 1900;
    unsigned m = 1, d = 1;
    civilFromDays(days, y, m, d);
    ts.year = static_cast<SHORT>(y);
    ts.month = static_cast<USHORT>(m);
    ts.day = static_cast<USHORT>(d);
    ts.hour = static_cast<USHORT>(milliseconds / 3600000);
    ts.minute = static_cast<USHORT>(milliseconds / 60000 % 60);
    ts.second = static_cast<USHORT>(milliseconds / 1000 % 60);
    ts.fraction = static_cast<ULONG>(milliseconds % 1000) * 1000000u;
    return ts;
}

struct TypeMapping {
    DBTYPE type;
    DBLENGTH size;
    DBCOLUMNFLAGS flags;
};

TypeMapping mapType(int sybType, DBINT length) {
    switch (sybType) {
    case SYBINT1:
        return {DBTYPE_UI1, 1, DBCOLUMNFLAGS_ISFIXEDLENGTH};
    case SYBINT2:
        return {DBTYPE_I2, 2, DBCOLUMNFLAGS_ISFIXEDLENGTH};
    case SYBINT4:
        return {DBTYPE_I4, 4, DBCOLUMNFLAGS_ISFIXEDLENGTH};
    case SYBINT8:
        return {DBTYPE_I8, 8, DBCOLUMNFLAGS_ISFIXEDLENGTH};
    case SYBINTN:
        switch (length) {
        case 1:
            return {DBTYPE_UI1, 1, DBCOLUMNFLAGS_ISFIXEDLENGTH};
        case 2:
            return {DBTYPE_I2, 2, DBCOLUMNFLAGS_ISFIXEDLENGTH};
        case 8:
            return {DBTYPE_I8, 8, DBCOLUMNFLAGS_ISFIXEDLENGTH};
        default:
            return {DBTYPE_I4, 4, DBCOLUMNFLAGS_ISFIXEDLENGTH};
        }
    case SYBBIT:
    case SYBBITN:
        return {DBTYPE_BOOL, 2, DBCOLUMNFLAGS_ISFIXEDLENGTH};
    case SYBREAL:
        return {DBTYPE_R4, 4, DBCOLUMNFLAGS_ISFIXEDLENGTH};
    case SYBFLT8:
    case SYBFLTN:
    case SYBMONEY:
    case SYBMONEY4:
    case SYBMONEYN:
    case SYBDECIMAL:
    case SYBNUMERIC:
        return {DBTYPE_R8, 8, DBCOLUMNFLAGS_ISFIXEDLENGTH};
    case SYBDATETIME:
    case SYBDATETIME4:
    case SYBDATETIMN:
        return {DBTYPE_DBTIMESTAMP, 16, DBCOLUMNFLAGS_ISFIXEDLENGTH};
    case SYBBINARY:
    case SYBVARBINARY:
        return {DBTYPE_BYTES, static_cast<DBLENGTH>(length), 0};
    case SYBIMAGE:
        return {DBTYPE_BYTES, 0x7FFFFFFF, DBCOLUMNFLAGS_ISLONG};
    case SYBTEXT:
    case SYBNTEXT:
        return {DBTYPE_WSTR, 0x3FFFFFFF, DBCOLUMNFLAGS_ISLONG};
    case kSybUnique:
        return {DBTYPE_GUID, 16, DBCOLUMNFLAGS_ISFIXEDLENGTH};
    default:
        // Character types and whatever else: delivered as text.
        return {DBTYPE_WSTR, static_cast<DBLENGTH>(length > 0 ? length : 0), 0};
    }
}

} // namespace

std::vector<ColumnDesc> DbLibLink::describeColumns() {
    DBPROCESS* dbproc = dbproc_;
    std::vector<ColumnDesc> columns;
    const int n = dbnumcols(dbproc);
    for (int i = 1; i <= n; ++i) {
        ColumnDesc c;
        const char* name = dbcolname(dbproc, i);
        c.name = name ? name : "";
        const int type = dbcoltype(dbproc, i);
        const TypeMapping mapping = mapType(type, dbcollen(dbproc, i));
        c.type = mapping.type;
        c.size = mapping.size;
        c.flags = mapping.flags;
        if (type == SYBCHAR || type == SYBVARCHAR || type == SYBNVARCHAR) {
            // db-lib gives the room the text needs in the client's character set, 4 bytes a
            // character for the UTF-8 the login asks for; a text column's size is characters
            // (128 for nvarchar(128), as SQL Server declares it).
            c.size /= 4;
            if (c.size > 8000) {
                // nvarchar(max) and varchar(max): long text, as ntext and text are.
                c.size = 0x3FFFFFFF;
                c.flags |= DBCOLUMNFLAGS_ISLONG;
            }
        }
        DBCOL info; // filled by dbcolinfo; not cleared first (it holds three 514-byte names)
        info.SizeOfStruct = sizeof info;
        if (dbcolinfo(dbproc, CI_REGULAR, i, 0, &info) == SUCCEED) {
            if (info.Null) {
                c.flags |= DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
            }
            if (info.Updatable) {
                c.flags |= DBCOLUMNFLAGS_WRITEUNKNOWN;
            }
            if (type == SYBDECIMAL || type == SYBNUMERIC) {
                c.precision = info.Precision;
                c.scale = info.Scale;
            }
        } else {
            c.flags |= DBCOLUMNFLAGS_MAYBENULL;
        }
        switch (c.type) {
        case DBTYPE_UI1:
            c.precision = 3;
            break;
        case DBTYPE_I2:
            c.precision = 5;
            break;
        case DBTYPE_I4:
            c.precision = 10;
            break;
        case DBTYPE_I8:
            c.precision = 19;
            break;
        case DBTYPE_R8:
            c.precision = c.precision == 0xFF ? 15 : c.precision;
            break;
        case DBTYPE_R4:
            c.precision = 7;
            break;
        case DBTYPE_DBTIMESTAMP:
            c.precision = 23;
            c.scale = 3;
            break;
        default:
            break;
        }
        columns.push_back(std::move(c));
    }
    return columns;
}

RowData DbLibLink::readRow(const std::vector<ColumnDesc>& columns) {
    DBPROCESS* dbproc = dbproc_;
    RowData row;
    row.reserve(columns.size());
    for (int i = 1; i <= static_cast<int>(columns.size()); ++i)
        row.push_back(cellFromRowData(dbproc, dbcoltype(dbproc, i), dbdata(dbproc, i),
                                      dbdatlen(dbproc, i),
                                      columns[static_cast<std::size_t>(i - 1)]));
    return row;
}

CellValue cellFromRowData(DBPROCESS* dbproc, int type, const BYTE* data, DBINT length,
                          const ColumnDesc& column) {
    if (!data || length < 0)
        return CellValue::null();
    // The fixed-size types come whole from db-lib; a value shorter than its type (a damaged
    // row) is not read past its end and reads as null.
    const auto whole = [length](DBINT size) { return length >= size; };
    switch (type) {
    case SYBINT1:
        if (!whole(1))
            return CellValue::null();
        return CellValue::integer(*data);
    case SYBINT2: {
        if (!whole(2))
            return CellValue::null();
        std::int16_t v;
        std::memcpy(&v, data, 2);
        return CellValue::integer(v);
    }
    case SYBINT4: {
        if (!whole(4))
            return CellValue::null();
        std::int32_t v;
        std::memcpy(&v, data, 4);
        return CellValue::integer(v);
    }
    case SYBINT8: {
        if (!whole(8))
            return CellValue::null();
        std::int64_t v;
        std::memcpy(&v, data, 8);
        return CellValue::integer(v);
    }
    case SYBINTN: {
        std::int64_t v = 0;
        if (length == 1) {
            v = *data;
        } else if (length == 2) {
            std::int16_t x;
            std::memcpy(&x, data, 2);
            v = x;
        } else if (length == 4) {
            std::int32_t x;
            std::memcpy(&x, data, 4);
            v = x;
        } else if (length == 8) {
            std::memcpy(&v, data, 8);
        } else {
            return CellValue::null();
        }
        return CellValue::integer(v);
    }
    case SYBBIT:
    case SYBBITN:
        if (!whole(1))
            return CellValue::null();
        return CellValue::boolean(*data != 0);
    case SYBREAL: {
        if (!whole(4))
            return CellValue::null();
        float f;
        std::memcpy(&f, data, 4);
        return CellValue::real(f);
    }
    case SYBFLT8: {
        if (!whole(8))
            return CellValue::null();
        double d;
        std::memcpy(&d, data, 8);
        return CellValue::real(d);
    }
    case SYBDATETIME:
    case SYBDATETIMN:
    case SYBDATETIME4: {
        CellValue c;
        c.kind = CellValue::Kind::Timestamp;
        if (length == 4) {
            std::uint16_t days, minutes;
            std::memcpy(&days, data, 2);
            std::memcpy(&minutes, data + 2, 2);
            c.ts = timestampOf(days, static_cast<long long>(minutes) * 60000);
        } else if (whole(8)) {
            std::int32_t days;
            std::uint32_t ticks;
            std::memcpy(&days, data, 4);
            std::memcpy(&ticks, data + 4, 4);
            // 1/300 s ticks, rounded to whole milliseconds as SQL Server shows them.
            c.ts = timestampOf(days, (static_cast<long long>(ticks) * 10 + 1) / 3);
        } else {
            return CellValue::null();
        }
        return c;
    }
    case SYBBINARY:
    case SYBVARBINARY:
    case SYBIMAGE:
        return CellValue::bytes(
            std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length)));
    case kSybUnique: {
        CellValue c;
        c.kind = CellValue::Kind::Guid;
        if (length >= 16) {
            std::memcpy(&c.g, data, 16);
        }
        return c;
    }
    default:
        if (column.type == DBTYPE_R8) {
            DBFLT8 d = 0;
            dbconvert(dbproc, type, data, length, SYBFLT8, reinterpret_cast<BYTE*>(&d), sizeof d);
            return CellValue::real(d);
        } else if (type == SYBCHAR || type == SYBVARCHAR || type == SYBTEXT || type == SYBNTEXT ||
                   type == SYBNVARCHAR) {
            return CellValue::text(
                std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length)));
        } else {
            std::string text(static_cast<std::size_t>(length) * 4 + 64, '\0');
            const DBINT n =
                dbconvert(dbproc, type, data, length, SYBCHAR, reinterpret_cast<BYTE*>(text.data()),
                          static_cast<DBINT>(text.size()));
            text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            return CellValue::text(std::move(text));
        }
    }
}

} // namespace kv::oledb::tds
