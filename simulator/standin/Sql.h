#pragma once
// The T-SQL subset the stand-in understands: a tokenizer that never fails (an unterminated
// string or bracket runs to the end of the batch and is reported as a syntax error by the
// parser) and a parser that turns a batch into statements. Keywords compare without regard to
// case; object names are kept as written and bound later through the server's collation.
//
// Like SQL Server, a batch is parsed as a whole before anything runs: one syntax error and no
// statement of the batch executes.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kv::standin::sql {

enum class TokenKind { Word, QuotedName, String, Number, Variable, Symbol, Illegal, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text; // words and names without their quotes; strings unescaped
    std::string raw;  // as written, for error messages
    int line = 1;
    bool unicode = false; // N'...'
};

std::vector<Token> tokenize(const std::string& batch);

struct Expr {
    // Literals as SQL Server types them: Integer (int, up to 2147483647), Decimal (a number
    // with a point, or an integer beyond int: numeric), Float (with an exponent), Binary (0x...).
    enum Kind {
        Integer,
        Decimal,
        Float,
        Binary,
        String,
        Variable,
        Column,
        Star,
        Function,
        Null
    } kind = Null;
    std::int64_t number = 0; // Integer; the scale of a Decimal
    double real = 0;         // Float
    bool negative = false;   // Decimal
    std::string text; // string value, Decimal digits (unscaled, no sign), Binary bytes, variable
                      // name (with @@), column or function name
    std::string qualifier;  // table alias of a column
    std::vector<Expr> args; // function arguments
};

struct SelectItem {
    Expr expr;
    std::string alias;
};

struct Select;

struct TableRef {
    std::vector<std::string> parts; // database, schema, name (schema may be empty for a..b)
    std::string alias;
    std::string written;             // as written, for 208
    std::shared_ptr<Select> derived; // FROM (SELECT ...) AS alias; parts is empty then
};

struct Condition {
    Expr left, right;
};

struct OrderItem {
    Expr column;
    bool descending = false;
};

struct Select {
    std::vector<SelectItem> items;
    std::optional<TableRef> from;
    std::vector<Condition> where;
    std::vector<OrderItem> orderBy;
};
struct Use {
    std::string database;
};
struct Set {
    std::string option; // upper case
    std::string value;  // ON, OFF or a number, upper case
};
struct Print {
    Expr value;
};
struct Raiserror {
    Expr message;
    std::int64_t severity = 0;
    std::int64_t state = 0;
};
struct Waitfor {
    std::string delay;
};
struct Exec {
    std::string procedure; // last part of the name
    std::string written;
    std::vector<Expr> args;
};
struct FileSpec {
    std::string name;
    std::string fileName;
};
struct CreateDatabase {
    std::string name;
    std::vector<FileSpec> data;
    std::vector<FileSpec> log;
    bool forAttach = false;
    bool rebuildLog = false;
};
struct DropDatabase {
    std::string name;
};
struct Dbcc {
    std::string verb; // upper case
    std::vector<Expr> args;
    std::vector<std::string> with; // upper case
};
struct AlterDatabase {
    std::string name;
    std::string option;      // SINGLE_USER, MULTI_USER, EMERGENCY, ONLINE, ...
    std::string termination; // ROLLBACK IMMEDIATE, NO_WAIT, ROLLBACK AFTER, or empty
};
struct Update {
    TableRef table;
    std::vector<std::pair<std::string, Expr>> assignments;
    std::vector<Condition> where;
};
struct Reconfigure {
    bool withOverride = false;
};
struct Transaction {
    std::string verb; // BEGIN, COMMIT, ROLLBACK
};

using StatementBody =
    std::variant<Select, Use, Set, Print, Raiserror, Waitfor, Exec, CreateDatabase, DropDatabase,
                 Dbcc, AlterDatabase, Update, Reconfigure, Transaction>;

struct Statement {
    StatementBody body;
    int line = 1;
};

struct ParseError {
    std::string near; // the token text SQL Server names
    int line = 1;
};

struct ParseResult {
    std::vector<Statement> statements;
    std::optional<ParseError> error;
};

ParseResult parse(const std::string& batch);

} // namespace kv::standin::sql
