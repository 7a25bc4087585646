#pragma once
// The parameter scan: finds ":name" markers in a statement text and gives the text the
// provider receives, with a "?" in place of each marker, plus one descriptor per marker.
//
// A marker is a colon symbol outside literals, quoted identifiers and comments, directly
// followed by an identifier, a keyword, a number or a bracket-quoted name, optionally with an
// "@" between (":@x" names "@x"). Anything else after a colon (a blank, another symbol, a
// literal, the end) leaves the colon and that lexem as they are, so "a : b" and "::" stay text.
// Comments are copied through unchanged even though the lexer skips them.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kv::dataaccess {

// One parameter found in a statement text. The command later fills in type and value when it
// binds the statement's parameters.
class TParamDesc {
public:
    explicit TParamDesc(std::string name) : FName(std::move(name)) {}
    virtual ~TParamDesc();

    const std::string& GetName() const { return FName; }

private:
    std::string FName;
};

using TParamDescs = std::vector<std::unique_ptr<TParamDesc>>;

// The found parameter names in text order and the text with "?" markers.
struct TParamScanResult {
    std::vector<std::string> Names;
    std::string CommandText;
};

// Scans text; raises EParserError for a byte that starts no lexem. A text without any colon
// is returned unchanged without running the lexer.
TParamScanResult ScanParams(std::string_view text);

} // namespace kv::dataaccess
