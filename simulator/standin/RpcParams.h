#pragma once
// The parameters of an sp_executesql call beyond the statement: reading them from the RPC
// request, binding the input values into the statement text, catching the values assigned to
// output parameters while the statement runs, and the RETURNVALUE tokens that carry them back.
//
// What the engine runs is the statement with every parameter reference replaced by a literal
// of its value, except the targets of assignments: "SET @P1 = expr" and "SELECT @P1 = expr,
// @P2 = expr" become selects whose columns are named after the targets; their one row is the
// new values, which the capturing sink keeps instead of sending. A parameter that is not
// assigned goes back with the value it came with, as SQL Server does.
#include "simulator/standin/Results.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::standin::tds {

class TokenWriter;

struct RpcParam {
    std::string name;                   // as sent, "@P1"; may be empty (positional)
    bool output = false;                // status flag 0x01 (by reference)
    std::vector<std::uint8_t> typeInfo; // the TYPE_INFO as received, echoed on the way back
    std::uint8_t type = 0;              // its first byte
    Value value;                        // null, integer, UTF-8 text, bytes
    std::optional<double> real;         // floating point values (value holds their text)
    std::string declaredType;           // from the declaration list, lower case ("ntext")
};

// Reads parameters from payload[pos] to the end. nullopt with `error` for a layout it does not
// know.
std::optional<std::vector<RpcParam>> readRpcParams(const std::vector<std::uint8_t>& payload,
                                                   std::size_t pos, std::uint32_t tdsVersion,
                                                   std::string& error);

// The first parameter declared as ntext, text or image that the statement compares in a WHERE
// clause (=, <>, <, > next to it), or null. SQL Server 2000 refuses such a comparison (402);
// 2005 compares them, converting.
const RpcParam* comparedLongParameter(const std::string& statement,
                                      const std::vector<RpcParam>& params);

// The statement with inputs bound and assignments turned into capturing selects.
std::string bindRpcParams(const std::string& statement, const std::vector<RpcParam>& params);

// Passes everything on to `next` except the rows of the assignment selects, whose values it
// writes into the matching output parameters.
class AssignmentSink : public ResultSink {
public:
    AssignmentSink(ResultSink& next, std::vector<RpcParam>& params)
        : next_(next), params_(params) {}
    void message(const kv::standin::Message& m) override { next_.message(m); }
    void databaseChanged(const std::string& n, const std::string& o) override {
        next_.databaseChanged(n, o);
    }
    void rowSet(const RowSet& rows) override;
    void statementDone(const StatementEnd& end) override;

private:
    ResultSink& next_;
    std::vector<RpcParam>& params_;
    bool swallowedRows_ = false;
};

// RETURNSTATUS 0 and one RETURNVALUE per output parameter, in parameter order.
void writeReturnValues(TokenWriter& w, const std::vector<RpcParam>& params);

} // namespace kv::standin::tds
