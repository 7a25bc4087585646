#include "dataaccess/RecCountSQL.h"

#include "dataaccess/MSParser.h"
#include "toolkit/SysUtils.h"

#include <vector>

namespace kv::dataaccess {

namespace {

bool isSetOperator(std::string_view word) {
    return SameText(word, "UNION") || SameText(word, "ALL") || SameText(word, "EXCEPT") ||
           SameText(word, "INTERSECT");
}

} // namespace

std::optional<std::string> RecCountSQL(std::string_view Text) {
    std::vector<TLexem> lexems; // everything but blanks and comments
    try {
        TMSParser parser(Text);
        parser.OmitBlank = true;
        parser.OmitComment = true;
        for (TLexem lx = parser.GetNext(); lx.Kind != lkEnd; lx = parser.GetNext())
            lexems.push_back(std::move(lx));
    } catch (const Exception&) {
        return std::nullopt;
    }
    while (!lexems.empty() && lexems.back().Kind == lkSymbol && lexems.back().Text == ";")
        lexems.pop_back();
    if (lexems.empty() || !SameText(lexems.front().Text, "SELECT"))
        return std::nullopt;

    // The end of the text to keep: the last lexem, or the one before the outer ORDER BY.
    std::size_t keep = lexems.size();
    int depth = 0;
    for (std::size_t i = 0; i < lexems.size(); ++i) {
        const TLexem& lx = lexems[i];
        if (lx.Kind == lkSymbol && lx.Text == "(")
            ++depth;
        else if (lx.Kind == lkSymbol && lx.Text == ")")
            --depth;
        else if (depth == 0 && lx.Kind == lkSymbol && lx.Text == ";")
            return std::nullopt; // a second statement
        else if (depth == 0 && i > 0 && SameText(lx.Text, "SELECT") &&
                 !isSetOperator(lexems[i - 1].Text))
            return std::nullopt; // a second statement without a separator
        else if (depth == 0 && SameText(lx.Text, "ORDER") && i + 1 < lexems.size() &&
                 SameText(lexems[i + 1].Text, "BY"))
            keep = i;
        else if (depth == 0 && keep != lexems.size() &&
                 (SameText(lx.Text, "UNION") || SameText(lx.Text, "FOR") ||
                  SameText(lx.Text, "OPTION") || SameText(lx.Text, "COMPUTE")))
            return std::nullopt; // clauses after ORDER BY that are not ours to drop
    }
    if (depth != 0 || keep == 0)
        return std::nullopt;
    const TLexem& last = lexems[keep - 1];
    const std::string_view body = Text.substr(0, last.Pos + last.Size);
    return "SELECT COUNT(*) FROM (" + std::string(body) + ") AS counted";
}

} // namespace kv::dataaccess
