#pragma once
// sp_executesql's declaration list ("@P1 int, @P2 nvarchar(128) OUTPUT") and what SQL Server
// does with it before the statement runs:
//
//  - values passed without a name take the declared names in order (the first value after the
//    list is the first declared parameter);
//  - a value is converted to its declared type: digits sent as text for an integer become the
//    integer, an integer for a text parameter becomes its text, and a text longer than the
//    declared length is cut to it;
//  - an output parameter sent as text, ntext or image (what TDS 7.1 clients use for strings and
//    bytes of unknown length) comes back in its declared type, since those types cannot be
//    output parameters;
//  - a declared parameter without a value stops the call before it runs.
#include "simulator/standin/RpcParams.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv::standin::tds {

struct RpcDeclaration {
    std::string name; // "@P1"
    std::string type; // lower case, without length: "int", "nvarchar", ...
    int length = 0;   // the (n); -1 for (max); 0 when none was given
    bool output = false;
};

// The entries of a declaration list; entries it cannot read are left out.
std::vector<RpcDeclaration> parseRpcDeclarations(const std::string& list);

// The declared parameters that got no value (SQL Server refuses the call with 8178).
std::vector<std::string> unsuppliedParameters(const std::vector<RpcParam>& params);

// Applies the declaration list, params[0] (when it is a text), to the values after it.
// `collation` is the server's, for output parameters that arrived without one.
void applyRpcDeclarations(std::vector<RpcParam>& params,
                          const std::vector<std::uint8_t>& collation);

} // namespace kv::standin::tds
