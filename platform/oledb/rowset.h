// Rowsets of the portable provider: forward-only, read as the caller asks for rows, from a row
// source (the rows of one result of a batch, or a table made in memory for the schema and
// sources rowsets). Values are kept in a neutral form and converted to the caller's bindings
// by GetData; accessors check their bindings against the columns when they are created.
#pragma once

#include "platform/oledb/com_lite.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv::oledb {

struct ColumnDesc {
    std::string name;
    DBTYPE type = DBTYPE_WSTR;
    DBLENGTH size = 0; // characters for text, bytes otherwise
    DBCOLUMNFLAGS flags = 0;
    BYTE precision = 0xFF;
    BYTE scale = 0xFF;
};

struct CellValue {
    enum class Kind { Null, Int, Real, Bool, Text, Bytes, Timestamp, Guid };
    Kind kind = Kind::Null;
    std::int64_t i = 0;
    double d = 0;
    std::string s; // UTF-8 text, or the bytes
    DBTIMESTAMP ts{};
    GUID g{};

    static CellValue null() { return {}; }
    static CellValue integer(std::int64_t v) {
        CellValue c;
        c.kind = Kind::Int;
        c.i = v;
        return c;
    }
    static CellValue real(double v) {
        CellValue c;
        c.kind = Kind::Real;
        c.d = v;
        return c;
    }
    static CellValue boolean(bool v) {
        CellValue c;
        c.kind = Kind::Bool;
        c.i = v ? 1 : 0;
        return c;
    }
    static CellValue text(std::string v) {
        CellValue c;
        c.kind = Kind::Text;
        c.s = std::move(v);
        return c;
    }
    static CellValue bytes(std::string v) {
        CellValue c;
        c.kind = Kind::Bytes;
        c.s = std::move(v);
        return c;
    }
};

using RowData = std::vector<CellValue>;

// Where a rowset's rows come from.
class RowSource {
public:
    virtual ~RowSource() = default;
    virtual const std::vector<ColumnDesc>& columns() const = 0;
    // Appends up to `count` rows. S_OK: more may follow; DB_S_ENDOFROWSET: the end was reached.
    // A failure result has its error object posted already; rows appended before the failure
    // are kept.
    virtual HRESULT fetch(std::size_t count, std::vector<RowData>& out) = 0;
    // The rowset is going away with rows unread.
    virtual void abandon() {}
};

class MemoryRowSource final : public RowSource {
public:
    MemoryRowSource(std::vector<ColumnDesc> columns, std::vector<RowData> rows)
        : columns_(std::move(columns)), rows_(std::move(rows)) {}
    const std::vector<ColumnDesc>& columns() const override { return columns_; }
    HRESULT fetch(std::size_t count, std::vector<RowData>& out) override;

private:
    std::vector<ColumnDesc> columns_;
    std::vector<RowData> rows_;
    std::size_t next_ = 0;
};

// Creates a rowset over the source and answers `riid` on it.
HRESULT createRowset(std::shared_ptr<RowSource> source, REFIID riid, IUnknown** ppRowset);

// Bindings of an accessor, checked against columns (row accessors) or not (parameters).
// Shared by rowsets and commands.
class AccessorTable {
public:
    HRESULT create(DBACCESSORFLAGS flags, DBCOUNTITEM count, const DBBINDING bindings[],
                   DBLENGTH rowSize, HACCESSOR* handle, DBBINDSTATUS status[],
                   const std::vector<ColumnDesc>* columns);
    HRESULT addRef(HACCESSOR handle, DBREFCOUNT* refs);
    HRESULT release(HACCESSOR handle, DBREFCOUNT* refs);
    HRESULT bindings(HACCESSOR handle, DBACCESSORFLAGS* flags, DBCOUNTITEM* count,
                     DBBINDING** out) const;

    struct Accessor {
        DBACCESSORFLAGS flags = 0;
        std::vector<DBBINDING> bindings;
        DBREFCOUNT refs = 0;
    };
    const Accessor* find(HACCESSOR handle) const;
    // Accessors a command hands to the rowsets it creates (DBACCESSOR_ROWDATA ones).
    void inheritFrom(const AccessorTable& other);

private:
    std::vector<std::pair<HACCESSOR, Accessor>> accessors_;
    HACCESSOR next_ = 1;
};

// Writes one value into the caller's buffer as the binding asks: value, length and status.
// Returns the status written.
DBSTATUS writeBinding(const DBBINDING& binding, const CellValue& value, BYTE* data);
// Whether a column of type `from` can be delivered as `to`.
bool canConvert(DBTYPE from, DBTYPE to);
// The value as text, as the string bindings deliver it; false for null.
bool asText(const CellValue& value, std::string& out);
// Reads one parameter value from the caller's buffer (for commands with parameters).
bool readBinding(const DBBINDING& binding, const BYTE* data, CellValue& value);

} // namespace kv::oledb
