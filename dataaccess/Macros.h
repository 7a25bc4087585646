#pragma once
// Macros: named placeholders in a statement text, written "&name", that the application
// replaces by text before the statement is sent.
//
// The scan runs on every change of a statement's lines. A reference is an "&" symbol outside
// literals, quoted identifiers and comments, directly followed by an identifier or a keyword
// (and, when AllowNumericNames is set, by a number, with an identifier or keyword right after
// the number joined to the name: "&1st"). "a & b" and "a &= b" contain no macro. Names compare
// without regard to case, as SQL names do.

#include <string>
#include <string_view>
#include <vector>

namespace kv::dataaccess {

class TMacro {
public:
    explicit TMacro(std::string name) : Name(std::move(name)) {}

    std::string Name;
    std::string Value;  // the replacement text
    bool Active = true; // an inactive macro's references stay in the text as written
};

class TMacros {
public:
    bool AllowNumericNames = false;

    int Count() const { return static_cast<int>(FItems.size()); }
    TMacro& operator[](int index) { return FItems.at(static_cast<std::size_t>(index)); }
    const TMacro& operator[](int index) const { return FItems.at(static_cast<std::size_t>(index)); }
    TMacro* FindMacro(std::string_view name);
    void Clear() { FItems.clear(); }

    // Rebuilds the collection from the references in text. Macros whose names survive keep
    // their values; when the list of names is unchanged the collection is left as it is.
    void Scan(std::string_view text);
    // The text with every reference of an active macro replaced by the macro's value.
    std::string Expand(std::string_view text) const;

private:
    struct Reference {
        std::size_t Pos;
        std::size_t Size;
        std::string Name;
    };
    std::vector<Reference> References(std::string_view text) const;
    const TMacro* FindMacro(std::string_view name) const;

    std::vector<TMacro> FItems;
};

} // namespace kv::dataaccess
