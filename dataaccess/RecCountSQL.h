#pragma once
// The text of the separate count query that QueryRecCount asks the server for.
//
// The statement is wrapped as a derived table: "SELECT COUNT(*) FROM (<text>) AS counted".
// Two things a select may carry cannot stand inside the parentheses and go first: comments
// and a ";" at the end (a trailing "--" comment would swallow the closing parenthesis), and
// the outer ORDER BY, which SQL Server refuses in a derived table and which does not change
// the count. ORDER BY inside parentheses (a sub-select with TOP) stays.
//
// A text that is not one plain select (a batch such as "use master select ...", a procedure
// call, several statements) cannot be wrapped; the dataset then counts the rows it fetched.

#include <optional>
#include <string>
#include <string_view>

namespace kv::dataaccess {

// The count query for Text, or nullopt when Text cannot be wrapped (also when it does not
// scan).
std::optional<std::string> RecCountSQL(std::string_view Text);

} // namespace kv::dataaccess
