#pragma once
// What the engine hands back while it runs a batch, independent of the wire: messages,
// database changes, row sets and the end of each statement. The TDS layer turns these into
// tokens; tests collect them with RecordingSink.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace kv::standin {

// A server message. Class 0..10 goes out as an informational message (class 10 is sent as 0,
// as SQL Server does), 11 and up as an error, 20 and up ends the connection.
struct Message {
    int number = 0;
    int state = 1;
    int severity = 0;
    std::string text;
    std::string procedure;
    int line = 1;

    bool isError() const { return severity > 10; }
};

enum class ColumnType {
    NVarChar,
    Int,
    SmallInt,
    TinyInt,
    BigInt,
    DateTime,
    VarBinary,
    Float,
    Numeric
};

struct Column {
    std::string name;
    ColumnType type = ColumnType::Int;
    int maxLength = 0; // characters for nvarchar, bytes for varbinary
    bool nullable = false;
    int precision = 0; // numeric
    int scale = 0;
};

// Days since 1900-01-01 and 1/300-second ticks since midnight, as TDS carries datetime.
struct DateTime {
    std::int32_t days = 0;
    std::uint32_t ticks = 0;
    bool operator==(const DateTime&) const = default;
};

// A numeric value: its digits without the point (the column's scale places it) and its sign.
struct Decimal {
    std::string digits = "0";
    bool negative = false;
    bool operator==(const Decimal&) const = default;
};

using Bytes = std::vector<std::uint8_t>;
using Value =
    std::variant<std::monostate, std::int64_t, std::string, Bytes, DateTime, double, Decimal>;
using Row = std::vector<Value>;

struct RowSet {
    std::vector<Column> columns;
    std::vector<Row> rows;
};

// The kind of statement end: a plain statement, or a procedure call with its return status.
enum class DoneKind { Statement, Procedure };

struct StatementEnd {
    DoneKind kind = DoneKind::Statement;
    bool error = false;
    bool hasCount = false;
    std::uint64_t count = 0;
    int returnStatus = 0; // procedures only
};

class ResultSink {
public:
    virtual ~ResultSink() = default;
    virtual void message(const Message& message) = 0;
    virtual void databaseChanged(const std::string& newName, const std::string& oldName) = 0;
    virtual void rowSet(const RowSet& rows) = 0;
    virtual void statementDone(const StatementEnd& end) = 0;
};

// Keeps everything in order of arrival (tests, simhost).
class RecordingSink : public ResultSink {
public:
    struct DatabaseChange {
        std::string newName, oldName;
    };
    using Event = std::variant<Message, DatabaseChange, RowSet, StatementEnd>;

    void message(const Message& m) override { events.emplace_back(m); }
    void databaseChanged(const std::string& n, const std::string& o) override {
        events.emplace_back(DatabaseChange{n, o});
    }
    void rowSet(const RowSet& r) override { events.emplace_back(r); }
    void statementDone(const StatementEnd& e) override { events.emplace_back(e); }

    std::vector<Message> messages() const {
        std::vector<Message> out;
        for (const auto& e : events)
            if (auto* m = std::get_if<Message>(&e))
                out.push_back(*m);
        return out;
    }
    std::vector<Message> errors() const {
        std::vector<Message> out;
        for (const auto& m : messages())
            if (m.isError())
                out.push_back(m);
        return out;
    }
    std::vector<RowSet> rowSets() const {
        std::vector<RowSet> out;
        for (const auto& e : events)
            if (auto* r = std::get_if<RowSet>(&e))
                out.push_back(*r);
        return out;
    }
    std::vector<StatementEnd> ends() const {
        std::vector<StatementEnd> out;
        for (const auto& e : events)
            if (auto* d = std::get_if<StatementEnd>(&e))
                out.push_back(*d);
        return out;
    }

    std::vector<Event> events;
};

} // namespace kv::standin
