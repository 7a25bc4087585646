#include "dataaccess/Macros.h"

#include "dataaccess/MSParser.h"

#include <algorithm>

namespace kv::dataaccess {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
        return up(x) == up(y);
    });
}

} // namespace

TMacro* TMacros::FindMacro(std::string_view name) {
    for (TMacro& m : FItems)
        if (sameName(m.Name, name))
            return &m;
    return nullptr;
}

const TMacro* TMacros::FindMacro(std::string_view name) const {
    return const_cast<TMacros*>(this)->FindMacro(name);
}

std::vector<TMacros::Reference> TMacros::References(std::string_view text) const {
    std::vector<Reference> refs;
    if (text.find('&') == std::string_view::npos)
        return refs;
    TMSParser parser(text);
    parser.OmitBlank = false;
    parser.Uppered = false;
    TLexem lx = parser.GetNext();
    while (lx.Kind != lkEnd) {
        if (lx.Kind != lkSymbol || lx.Text != "&") {
            lx = parser.GetNext();
            continue;
        }
        const std::size_t amp = lx.Pos;
        TLexem name = parser.GetNext();
        if (name.Kind == lkIdent || name.Kind == lkKeyword) {
            refs.push_back({amp, name.Pos + name.Size - amp, name.Text});
            lx = parser.GetNext();
        } else if (name.Kind == lkNumber && AllowNumericNames) {
            Reference r{amp, name.Pos + name.Size - amp, name.Text};
            lx = parser.GetNext();
            if ((lx.Kind == lkIdent || lx.Kind == lkKeyword) && lx.Pos == name.Pos + name.Size) {
                r.Name += lx.Text;
                r.Size = lx.Pos + lx.Size - amp;
                lx = parser.GetNext();
            }
            refs.push_back(std::move(r));
        } else {
            lx = std::move(name); // may itself be an "&"
        }
    }
    return refs;
}

void TMacros::Scan(std::string_view text) {
    if (text.find('&') == std::string_view::npos) {
        FItems.clear();
        return;
    }
    std::vector<std::string> names;
    for (Reference& r : References(text))
        if (std::none_of(names.begin(), names.end(),
                         [&](const std::string& n) { return sameName(n, r.Name); }))
            names.push_back(std::move(r.Name));

    bool same = names.size() == FItems.size();
    for (std::size_t i = 0; same && i < names.size(); ++i)
        same = sameName(names[i], FItems[i].Name);
    if (same)
        return;

    std::vector<TMacro> items;
    items.reserve(names.size());
    for (std::string& n : names) {
        if (const TMacro* old = FindMacro(n))
            items.push_back(*old);
        else
            items.emplace_back(std::move(n));
    }
    FItems = std::move(items);
}

std::string TMacros::Expand(std::string_view text) const {
    if (FItems.empty())
        return std::string(text);
    std::string out;
    std::size_t copied = 0;
    for (const Reference& r : References(text)) {
        const TMacro* m = FindMacro(r.Name);
        if (m == nullptr || !m->Active)
            continue;
        out.append(text.substr(copied, r.Pos - copied));
        out.append(m->Value);
        copied = r.Pos + r.Size;
    }
    out.append(text.substr(copied));
    return out;
}

} // namespace kv::dataaccess
