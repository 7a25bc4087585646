#include "simulator/standin/Sql.h"

#include "simulator/standin/Text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

namespace kv::standin::sql {

namespace {

bool isWordStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#' || c >= 0x80;
}
bool isWordChar(unsigned char c) {
    return isWordStart(c) || (c >= '0' && c <= '9') || c == '$' || c == '@';
}

// Reads a delimited run from `from` up to its closing `close`, where a doubled `close` stands
// for one (string literals, [names] and "names" alike). Returns the position after the run;
// `closed` tells whether the closing delimiter was found before the end of the batch.
std::size_t readDelimited(const std::string& batch, std::size_t from, char close,
                          std::string& value, bool& closed) {
    const std::size_t n = batch.size();
    std::size_t k = from;
    closed = false;
    while (k < n) {
        if (batch[k] == close) {
            if (k + 1 < n && batch[k + 1] == close) {
                value += close;
                k += 2;
                continue;
            }
            closed = true;
            return k + 1;
        }
        value += batch[k++];
    }
    return k;
}

} // namespace

std::vector<Token> tokenize(const std::string& batch) {
    std::vector<Token> tokens;
    const std::size_t n = batch.size();
    std::size_t i = 0;
    int line = 1;
    auto countLines = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; k < to && k < n; ++k)
            if (batch[k] == '\n')
                ++line;
    };
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(batch[i]);
        if (c == '\n') {
            ++line;
            ++i;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v' || c == 0) {
            ++i;
            continue;
        }
        if (c == '-' && i + 1 < n && batch[i + 1] == '-') {
            while (i < n && batch[i] != '\n')
                ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && batch[i + 1] == '*') {
            // Block comments nest in T-SQL.
            std::size_t k = i + 2;
            int depth = 1;
            while (k < n && depth > 0) {
                if (batch[k] == '/' && k + 1 < n && batch[k + 1] == '*') {
                    ++depth;
                    k += 2;
                } else if (batch[k] == '*' && k + 1 < n && batch[k + 1] == '/') {
                    --depth;
                    k += 2;
                } else {
                    ++k;
                }
            }
            countLines(i, k);
            if (depth > 0) {
                tokens.push_back({TokenKind::Illegal, "", batch.substr(i, 20), line, false});
                break;
            }
            i = k;
            continue;
        }
        Token t;
        t.line = line;
        const std::size_t start = i;
        if ((c == 'N' || c == 'n') && i + 1 < n && batch[i + 1] == '\'') {
            t.unicode = true;
            ++i;
        }
        if (batch[i] == '\'' || c == '[' || c == '"') {
            const bool literal = batch[i] == '\'';
            const char close = literal ? '\'' : c == '[' ? ']' : '"';
            bool closed = false;
            const std::size_t k = readDelimited(batch, i + 1, close, t.text, closed);
            countLines(i, k);
            t.kind = !closed   ? TokenKind::Illegal
                     : literal ? TokenKind::String
                               : TokenKind::QuotedName;
            t.raw = batch.substr(start, k - start);
            i = k;
        } else if ((c >= '0' && c <= '9') ||
                   (c == '.' && i + 1 < n && batch[i + 1] >= '0' && batch[i + 1] <= '9')) {
            // 123, 1.5, .5, 1e10, 2.5E-3, and binary constants 0x0A1B.
            auto digit = [&](std::size_t k) { return k < n && batch[k] >= '0' && batch[k] <= '9'; };
            std::size_t k = i;
            if (c == '0' && i + 1 < n && (batch[i + 1] == 'x' || batch[i + 1] == 'X')) {
                k = i + 2;
                while (k < n && std::isxdigit(static_cast<unsigned char>(batch[k])))
                    ++k;
            } else {
                while (digit(k))
                    ++k;
                if (k < n && batch[k] == '.') {
                    ++k;
                    while (digit(k))
                        ++k;
                }
                if (k < n && (batch[k] == 'e' || batch[k] == 'E')) {
                    std::size_t e = k + 1;
                    if (e < n && (batch[e] == '+' || batch[e] == '-'))
                        ++e;
                    if (digit(e)) {
                        k = e;
                        while (digit(k))
                            ++k;
                    }
                }
            }
            t.kind = TokenKind::Number;
            t.text = t.raw = batch.substr(i, k - i);
            i = k;
        } else if (c == '@') {
            std::size_t k = i;
            while (k < n && batch[k] == '@')
                ++k;
            while (k < n && isWordChar(static_cast<unsigned char>(batch[k])))
                ++k;
            t.kind = TokenKind::Variable;
            t.text = t.raw = batch.substr(i, k - i);
            i = k;
        } else if (isWordStart(c)) {
            std::size_t k = i;
            while (k < n && isWordChar(static_cast<unsigned char>(batch[k])))
                ++k;
            t.kind = TokenKind::Word;
            t.text = t.raw = batch.substr(i, k - i);
            i = k;
        } else {
            t.kind = TokenKind::Symbol;
            std::size_t len = 1;
            if (i + 1 < n) {
                const std::string two = batch.substr(i, 2);
                if (two == "<>" || two == "!=" || two == ">=" || two == "<=")
                    len = 2;
            }
            t.text = t.raw = batch.substr(i, len);
            i += len;
        }
        tokens.push_back(std::move(t));
    }
    Token end;
    end.kind = TokenKind::End;
    end.line = line;
    tokens.push_back(end);
    return tokens;
}

namespace {

const std::set<std::string> reserved = {
    "SELECT",      "FROM",     "WHERE",  "USE",    "SET",         "PRINT",  "EXEC",      "EXECUTE",
    "CREATE",      "DBCC",     "ALTER",  "UPDATE", "RECONFIGURE", "DROP",   "RAISERROR", "WAITFOR",
    "ORDER",       "GROUP",    "BEGIN",  "COMMIT", "ROLLBACK",    "AND",    "OR",        "ON",
    "LOG",         "FOR",      "WITH",   "AS",     "INSERT",      "DELETE", "DECLARE",   "IF",
    "ELSE",        "WHILE",    "RETURN", "HAVING", "UNION",       "INTO",   "NULL",      "TRAN",
    "TRANSACTION", "DATABASE", "TABLE",  "GRANT",  "REVOKE",      "DENY",   "TRUNCATE"};

bool isReserved(const std::string& word) {
    std::string upper = word;
    for (auto& ch : upper)
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 32);
    return reserved.count(upper) > 0;
}

std::string upper(const std::string& s) {
    std::string out = s;
    for (auto& ch : out)
        if (ch >= 'a' && ch <= 'z')
            ch = static_cast<char>(ch - 32);
    return out;
}

struct Failure {
    ParseError error;
};

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

    ParseResult run() {
        ParseResult result;
        try {
            bool first = true;
            while (!at(TokenKind::End)) {
                if (isSymbol(";")) {
                    ++p_;
                    continue;
                }
                const int line = cur().line;
                result.statements.push_back({statement(first), line});
                first = false;
            }
        } catch (const Failure& f) {
            result.statements.clear();
            result.error = f.error;
        }
        return result;
    }

private:
    const Token& cur() const { return t_[p_]; }
    bool at(TokenKind k) const { return cur().kind == k; }
    bool isWord(const char* w) const { return at(TokenKind::Word) && keywordEquals(cur().text, w); }
    bool isSymbol(const char* s) const { return at(TokenKind::Symbol) && cur().text == s; }

    [[noreturn]] void fail() const {
        // At the end of the batch SQL Server names the last token it read.
        const Token& t = at(TokenKind::End) && p_ > 0 ? t_[p_ - 1] : cur();
        std::string near =
            t.kind == TokenKind::String || t.kind == TokenKind::Illegal ? t.text : t.raw;
        if (t.kind == TokenKind::QuotedName)
            near = t.text;
        throw Failure{{near, t.line}};
    }
    void expectWord(const char* w) {
        if (!isWord(w))
            fail();
        ++p_;
    }
    void expectSymbol(const char* s) {
        if (!isSymbol(s))
            fail();
        ++p_;
    }
    bool acceptWord(const char* w) {
        if (isWord(w)) {
            ++p_;
            return true;
        }
        return false;
    }
    bool acceptSymbol(const char* s) {
        if (isSymbol(s)) {
            ++p_;
            return true;
        }
        return false;
    }
    std::string name() {
        if (at(TokenKind::QuotedName) || (at(TokenKind::Word) && !isReserved(cur().text)))
            return t_[p_++].text;
        fail();
    }
    // Names that procedures and DBCC take as bare words or strings.
    std::string nameOrString() {
        if (at(TokenKind::String))
            return t_[p_++].text;
        return name();
    }
    std::int64_t integer() {
        bool negative = acceptSymbol("-");
        if (!at(TokenKind::Number))
            fail();
        std::int64_t v = 0;
        for (char ch : cur().text) {
            if (ch < '0' || ch > '9')
                fail();
            v = v * 10 + (ch - '0');
            if (v > (std::int64_t{1} << 40))
                fail();
        }
        ++p_;
        return negative ? -v : v;
    }

    // A numeric constant, typed as SQL Server types it.
    Expr number() {
        Expr e;
        const bool negative = acceptSymbol("-");
        if (!at(TokenKind::Number))
            fail();
        const std::string text = t_[p_++].text;
        if (text.size() > 1 && (text[1] == 'x' || text[1] == 'X')) {
            if (negative)
                fail();
            // An odd number of digits reads as if a 0 led them.
            std::string hex = text.substr(2);
            if (hex.size() % 2)
                hex.insert(hex.begin(), '0');
            e.kind = Expr::Binary;
            for (std::size_t k = 0; k < hex.size(); k += 2)
                e.text.push_back(static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16)));
            return e;
        }
        if (text.find_first_of("eE") != std::string::npos) {
            e.kind = Expr::Float;
            e.real = std::strtod(text.c_str(), nullptr);
            if (negative)
                e.real = -e.real;
            return e;
        }
        const std::size_t point = text.find('.');
        std::string digits = text;
        std::int64_t scale = 0;
        if (point != std::string::npos) {
            scale = static_cast<std::int64_t>(text.size() - point - 1);
            digits.erase(point, 1);
        }
        digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
        if (point == std::string::npos && digits.size() <= 10 &&
            std::stoll(digits.empty() ? "0" : digits) <= 2147483647LL + (negative ? 1 : 0)) {
            e.kind = Expr::Integer;
            e.number = std::stoll(digits.empty() ? "0" : digits);
            if (negative)
                e.number = -e.number;
            return e;
        }
        // numeric: at most 38 digits
        if (digits.size() > 38 || scale > 38)
            fail();
        e.kind = Expr::Decimal;
        e.text = digits.empty() ? "0" : digits;
        e.number = scale;
        e.negative = negative && digits.find_first_not_of('0') != std::string::npos;
        return e;
    }

    Expr primary() {
        Expr e;
        if (at(TokenKind::Number) || isSymbol("-"))
            return number();
        if (at(TokenKind::String)) {
            e.kind = Expr::String;
            e.text = t_[p_++].text;
            return e;
        }
        if (at(TokenKind::Variable)) {
            e.kind = Expr::Variable;
            e.text = t_[p_++].text;
            return e;
        }
        if (isWord("NULL")) {
            ++p_;
            e.kind = Expr::Null;
            return e;
        }
        if (isSymbol("*")) {
            ++p_;
            e.kind = Expr::Star;
            return e;
        }
        if (at(TokenKind::Word) && !isReserved(cur().text) &&
            t_[p_ + 1].kind == TokenKind::Symbol && t_[p_ + 1].text == "(") {
            e.kind = Expr::Function;
            e.text = upper(cur().text);
            p_ += 2;
            // Nested calls are bounded so that no batch can exhaust the stack.
            if (++depth_ > 16)
                fail();
            if (!acceptSymbol(")")) {
                do
                    e.args.push_back(primary());
                while (acceptSymbol(","));
                expectSymbol(")");
            }
            --depth_;
            return e;
        }
        std::string first = name();
        e.kind = Expr::Column;
        if (acceptSymbol(".")) {
            e.qualifier = first;
            if (acceptSymbol("*")) {
                e.kind = Expr::Star;
                return e;
            }
            e.text = name();
        } else {
            e.text = first;
        }
        return e;
    }

    std::vector<Condition> where() {
        std::vector<Condition> conditions;
        if (!acceptWord("WHERE"))
            return conditions;
        do {
            Condition c;
            c.left = primary();
            expectSymbol("=");
            c.right = primary();
            conditions.push_back(std::move(c));
        } while (acceptWord("AND"));
        return conditions;
    }

    TableRef table() {
        TableRef ref;
        if (acceptSymbol("(")) {
            // A derived table: (SELECT ...) and its name, which SQL Server requires.
            expectWord("SELECT");
            if (++depth_ > 16)
                fail();
            ref.derived = std::make_shared<Select>(select());
            --depth_;
            expectSymbol(")");
            (void)acceptWord("AS");
            ref.alias = name();
            ref.written = ref.alias;
            return ref;
        }
        const std::size_t start = p_;
        ref.parts.push_back(name());
        while (acceptSymbol(".")) {
            if (isSymbol(".")) {
                ref.parts.push_back("");
                continue;
            }
            ref.parts.push_back(name());
        }
        for (std::size_t k = start; k < p_; ++k)
            ref.written += t_[k].kind == TokenKind::QuotedName ? t_[k].text : t_[k].raw;
        if (ref.parts.size() > 3)
            fail();
        if (acceptWord("AS"))
            ref.alias = name();
        else if (at(TokenKind::QuotedName) || (at(TokenKind::Word) && !isReserved(cur().text)))
            ref.alias = name();
        return ref;
    }

    Select select() {
        Select s;
        do {
            SelectItem item;
            // "alias = expression" names the column in front.
            if ((at(TokenKind::QuotedName) || (at(TokenKind::Word) && !isReserved(cur().text))) &&
                t_[p_ + 1].kind == TokenKind::Symbol && t_[p_ + 1].text == "=") {
                item.alias = nameOrString();
                acceptSymbol("=");
                item.expr = primary();
                s.items.push_back(std::move(item));
                continue;
            }
            item.expr = primary();
            if (acceptWord("AS"))
                item.alias = nameOrString();
            else if (at(TokenKind::QuotedName) || at(TokenKind::String) ||
                     (at(TokenKind::Word) && !isReserved(cur().text)))
                item.alias = nameOrString();
            s.items.push_back(std::move(item));
        } while (acceptSymbol(","));
        if (acceptWord("FROM"))
            s.from = table();
        s.where = where();
        if (acceptWord("ORDER")) {
            expectWord("BY");
            do {
                OrderItem item;
                item.column = primary();
                if (acceptWord("DESC"))
                    item.descending = true;
                else
                    (void)acceptWord("ASC");
                s.orderBy.push_back(std::move(item));
            } while (acceptSymbol(","));
        }
        return s;
    }

    FileSpec fileSpec() {
        FileSpec f;
        expectSymbol("(");
        do {
            if (!at(TokenKind::Word))
                fail();
            const std::string key = upper(cur().text);
            ++p_;
            expectSymbol("=");
            if (key == "NAME") {
                f.name = nameOrString();
            } else if (key == "FILENAME") {
                if (!at(TokenKind::String))
                    fail();
                f.fileName = t_[p_++].text;
            } else if (key == "SIZE" || key == "MAXSIZE" || key == "FILEGROWTH") {
                if (acceptWord("UNLIMITED"))
                    continue;
                (void)integer();
                if (!acceptSymbol("%") &&
                    (isWord("KB") || isWord("MB") || isWord("GB") || isWord("TB")))
                    ++p_;
            } else {
                --p_;
                fail();
            }
        } while (acceptSymbol(","));
        expectSymbol(")");
        return f;
    }

    StatementBody statement(bool first);

    std::vector<Token> t_;
    std::size_t p_ = 0;
    int depth_ = 0;
};

} // namespace

StatementBody Parser::statement(bool first) {
    if (!at(TokenKind::Word) && !(first && at(TokenKind::QuotedName)))
        fail();
    const std::string keyword = upper(cur().text);
    if (cur().kind == TokenKind::Word && isReserved(cur().text))
        ++p_;
    else if (first) {
        // A procedure call without EXEC is allowed as the first statement of a batch.
        Exec e;
        const std::size_t start = p_;
        std::string last = name();
        while (acceptSymbol("."))
            last = isSymbol(".") ? last : name();
        for (std::size_t k = start; k < p_; ++k)
            e.written += t_[k].raw;
        e.procedure = last;
        if (!at(TokenKind::End) && !isSymbol(";")) {
            do {
                if (at(TokenKind::Variable) && t_[p_ + 1].text == "=")
                    p_ += 2;
                if (at(TokenKind::Word) && !isReserved(cur().text)) {
                    Expr x;
                    x.kind = Expr::String;
                    x.text = t_[p_++].text;
                    e.args.push_back(x);
                } else {
                    e.args.push_back(primary());
                }
            } while (acceptSymbol(","));
        }
        return e;
    } else {
        fail();
    }

    if (keyword == "USE")
        return Use{name()};
    if (keyword == "SELECT")
        return select();
    if (keyword == "PRINT")
        return Print{primary()};
    if (keyword == "SET") {
        Set s;
        if (!at(TokenKind::Word))
            fail();
        s.option = upper(t_[p_++].text);
        if (s.option == "LOCK_TIMEOUT" || s.option == "TEXTSIZE" || s.option == "DATEFIRST" ||
            s.option == "ROWCOUNT") {
            s.value = std::to_string(integer());
        } else if (s.option == "LANGUAGE" || s.option == "DATEFORMAT") {
            s.value = nameOrString();
        } else if (s.option == "TRANSACTION") {
            expectWord("ISOLATION");
            expectWord("LEVEL");
            while (at(TokenKind::Word) &&
                   (isWord("READ") || isWord("COMMITTED") || isWord("UNCOMMITTED") ||
                    isWord("REPEATABLE") || isWord("SERIALIZABLE") || isWord("SNAPSHOT")))
                ++p_;
        } else {
            static const std::set<std::string> onOff = {"QUOTED_IDENTIFIER",
                                                        "ANSI_NULLS",
                                                        "ANSI_WARNINGS",
                                                        "ANSI_PADDING",
                                                        "ANSI_NULL_DFLT_ON",
                                                        "ANSI_NULL_DFLT_OFF",
                                                        "CONCAT_NULL_YIELDS_NULL",
                                                        "ARITHABORT",
                                                        "ARITHIGNORE",
                                                        "NOCOUNT",
                                                        "XACT_ABORT",
                                                        "IMPLICIT_TRANSACTIONS",
                                                        "CURSOR_CLOSE_ON_COMMIT",
                                                        "NUMERIC_ROUNDABORT",
                                                        "ANSI_DEFAULTS",
                                                        "FMTONLY",
                                                        "NOEXEC",
                                                        "PARSEONLY"};
            std::vector<std::string> options{s.option};
            if (!onOff.count(s.option)) {
                --p_;
                ++p_;
                fail();
            }
            while (acceptSymbol(",")) {
                if (!at(TokenKind::Word) || !onOff.count(upper(cur().text)))
                    fail();
                options.push_back(upper(t_[p_++].text));
            }
            if (isWord("ON") || isWord("OFF"))
                s.value = upper(t_[p_++].text);
            else
                fail();
            // Only QUOTED_IDENTIFIER and NOCOUNT matter to the session; a list keeps them.
            for (const auto& o : options)
                if (o == "QUOTED_IDENTIFIER" || o == "NOCOUNT")
                    s.option = o;
        }
        return s;
    }
    if (keyword == "RAISERROR") {
        Raiserror r;
        expectSymbol("(");
        r.message = primary();
        expectSymbol(",");
        r.severity = integer();
        expectSymbol(",");
        r.state = integer();
        while (acceptSymbol(","))
            (void)primary();
        expectSymbol(")");
        if (acceptWord("WITH")) {
            do {
                if (!(acceptWord("LOG") || acceptWord("NOWAIT") || acceptWord("SETERROR")))
                    fail();
            } while (acceptSymbol(","));
        }
        return r;
    }
    if (keyword == "WAITFOR") {
        expectWord("DELAY");
        if (!at(TokenKind::String))
            fail();
        return Waitfor{t_[p_++].text};
    }
    if (keyword == "EXEC" || keyword == "EXECUTE") {
        Exec e;
        const std::size_t start = p_;
        std::string last = name();
        while (acceptSymbol(".")) {
            if (isSymbol("."))
                continue;
            last = name();
        }
        for (std::size_t k = start; k < p_; ++k)
            e.written += t_[k].kind == TokenKind::QuotedName ? t_[k].text : t_[k].raw;
        e.procedure = last;
        if (!at(TokenKind::End) && !isSymbol(";") &&
            !(at(TokenKind::Word) && isReserved(cur().text) && !isWord("NULL"))) {
            do {
                if (at(TokenKind::Variable) && t_[p_ + 1].text == "=")
                    p_ += 2;
                if (at(TokenKind::Word) && !isReserved(cur().text)) {
                    Expr x;
                    x.kind = Expr::String;
                    x.text = t_[p_++].text;
                    e.args.push_back(x);
                } else {
                    e.args.push_back(primary());
                }
            } while (acceptSymbol(","));
        }
        return e;
    }
    if (keyword == "CREATE") {
        expectWord("DATABASE");
        CreateDatabase c;
        c.name = name();
        if (acceptWord("ON")) {
            (void)acceptWord("PRIMARY");
            do
                c.data.push_back(fileSpec());
            while (acceptSymbol(","));
        }
        if (acceptWord("LOG")) {
            expectWord("ON");
            do
                c.log.push_back(fileSpec());
            while (acceptSymbol(","));
        }
        if (acceptWord("FOR")) {
            if (acceptWord("ATTACH"))
                c.forAttach = true;
            else if (acceptWord("ATTACH_REBUILD_LOG"))
                c.forAttach = c.rebuildLog = true;
            else
                fail();
        }
        return c;
    }
    if (keyword == "DROP") {
        expectWord("DATABASE");
        return DropDatabase{name()};
    }
    if (keyword == "DBCC") {
        Dbcc d;
        if (!at(TokenKind::Word))
            fail();
        d.verb = upper(t_[p_++].text);
        if (acceptSymbol("(")) {
            if (!acceptSymbol(")")) {
                do {
                    if (at(TokenKind::Word) && !isReserved(cur().text)) {
                        Expr x;
                        x.kind = Expr::Column;
                        x.text = t_[p_++].text;
                        d.args.push_back(x);
                    } else {
                        d.args.push_back(primary());
                    }
                } while (acceptSymbol(","));
                expectSymbol(")");
            }
        }
        if (acceptWord("WITH")) {
            do {
                if (!at(TokenKind::Word))
                    fail();
                d.with.push_back(upper(t_[p_++].text));
            } while (acceptSymbol(","));
        }
        return d;
    }
    if (keyword == "ALTER") {
        expectWord("DATABASE");
        AlterDatabase a;
        a.name = name();
        expectWord("SET");
        if (!at(TokenKind::Word))
            fail();
        a.option = upper(t_[p_++].text);
        static const std::set<std::string> options = {
            "SINGLE_USER", "MULTI_USER", "RESTRICTED_USER", "EMERGENCY", "ONLINE", "OFFLINE"};
        if (!options.count(a.option)) {
            --p_;
            fail();
        }
        if (acceptWord("WITH")) {
            if (acceptWord("ROLLBACK")) {
                if (acceptWord("IMMEDIATE")) {
                    a.termination = "ROLLBACK IMMEDIATE";
                } else {
                    expectWord("AFTER");
                    (void)integer();
                    (void)acceptWord("SECONDS");
                    a.termination = "ROLLBACK AFTER";
                }
            } else {
                expectWord("NO_WAIT");
                a.termination = "NO_WAIT";
            }
        }
        return a;
    }
    if (keyword == "UPDATE") {
        Update u;
        u.table = table();
        expectWord("SET");
        do {
            std::string column = name();
            expectSymbol("=");
            u.assignments.emplace_back(column, primary());
        } while (acceptSymbol(","));
        u.where = where();
        return u;
    }
    if (keyword == "RECONFIGURE") {
        Reconfigure r;
        if (acceptWord("WITH")) {
            expectWord("OVERRIDE");
            r.withOverride = true;
        }
        return r;
    }
    if (keyword == "BEGIN" || keyword == "COMMIT" || keyword == "ROLLBACK") {
        if (keyword == "BEGIN" && !(isWord("TRAN") || isWord("TRANSACTION")))
            fail();
        if (acceptWord("TRAN") || acceptWord("TRANSACTION")) {
            if (at(TokenKind::Word) && !isReserved(cur().text))
                ++p_;
        }
        return Transaction{keyword};
    }
    --p_;
    fail();
}

ParseResult parse(const std::string& batch) {
    return Parser(tokenize(batch)).run();
}

} // namespace kv::standin::sql
