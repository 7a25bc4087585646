#include "dataaccess/ParamScan.h"

#include "dataaccess/MSParser.h"

namespace kv::dataaccess {

TParamDesc::~TParamDesc() = default;

namespace {

bool isNameLexem(const TLexem& lx) {
    return lx.Kind == lkIdent || lx.Kind == lkKeyword || lx.Kind == lkNumber ||
           (lx.Kind == lkQuotedIdent && lx.Text.starts_with('['));
}

std::string nameOf(const TLexem& lx) {
    if (lx.Kind == lkQuotedIdent) {
        std::string_view inner = std::string_view(lx.Text).substr(1);
        if (!inner.empty() && inner.back() == ']')
            inner.remove_suffix(1);
        return std::string(inner);
    }
    return lx.Text;
}

} // namespace

TParamScanResult ScanParams(std::string_view text) {
    TParamScanResult result;
    if (text.find(':') == std::string_view::npos) {
        result.CommandText = std::string(text);
        return result;
    }

    TMSParser parser(text);
    parser.OmitBlank = false;
    parser.OmitComment = true;
    parser.QuotedString = true;
    parser.DecSeparator = '.';

    std::size_t copied = 0; // text before this offset is already in CommandText
    for (TLexem lx = parser.GetNext(); lx.Kind != lkEnd; lx = parser.GetNext()) {
        if (lx.Kind != lkSymbol || lx.Text != ":")
            continue;
        const std::size_t colon = lx.Pos;
        TLexem next = parser.GetNext();
        std::string prefix;
        if (next.Kind == lkSymbol && next.Text == "@") {
            prefix = "@";
            next = parser.GetNext();
        }
        if (!isNameLexem(next))
            continue; // the colon and what followed stay as they are
        result.Names.push_back(prefix + nameOf(next));
        result.CommandText.append(text.substr(copied, colon - copied));
        result.CommandText.push_back('?');
        copied = next.Pos + next.Size;
    }
    result.CommandText.append(text.substr(copied));
    return result;
}

} // namespace kv::dataaccess
