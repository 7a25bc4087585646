#include "skin_sources.h"

#include "recipe.h"
#include "skin/store/SkinBody.h"
#include "skin/store/SkinSource.h"
#include "toolkit/Filer.h"
#include "toolkit/SysUtils.h"

#include <sstream>
#include <stdexcept>

namespace kv::skinbuild {

namespace {

std::string trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r\n");
    const size_t b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// The top-level clauses of an objects file: each starts with "object" in the first column and
// ends with the "end" in the first column that follows.
std::vector<std::string> splitClauses(const std::string& Text) {
    std::vector<std::string> clauses;
    std::istringstream in(Text);
    std::string line, current;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!inside && line.rfind("object ", 0) == 0)
            inside = true;
        if (inside)
            current += line + "\n";
        if (inside && trim(line) == "end" && line.rfind("end", 0) == 0) {
            clauses.push_back(current);
            current.clear();
            inside = false;
        }
    }
    if (inside)
        throw std::runtime_error("objects.txt: the last clause has no closing \"end\"");
    return clauses;
}

} // namespace

void BuildSkin(const std::string& Header, const std::string& Recipes, const std::string& Objects,
               TSkinSource& Into) {
    kv::skin::RegisterSkinClasses();
    Into.Clear();
    std::istringstream header(Header);
    for (std::string line; std::getline(header, line);) {
        const size_t eq = line.find('=');
        if (trim(line).empty() || trim(line)[0] == '#')
            continue;
        if (eq == std::string::npos)
            throw std::runtime_error("header.txt: expected Key = value: " + line);
        const std::string key = trim(line.substr(0, eq));
        const std::string value = trim(line.substr(eq + 1));
        TSkinHeader& h = Into.Header;
        std::string* field = key == "SkinName"      ? &h.SkinName
                             : key == "SkinVersion" ? &h.SkinVersion
                             : key == "Author"      ? &h.Author
                             : key == "AuthorEmail" ? &h.AuthorEmail
                             : key == "AuthorWeb"   ? &h.AuthorWeb
                                                    : nullptr;
        if (field == nullptr)
            throw std::runtime_error("header.txt: unknown key " + key);
        *field = value;
    }
    Into.Bitmaps = RunRecipes(Recipes, "bitmaps.txt");
    for (const std::string& clause : splitClauses(Objects)) {
        TComponent* c = nullptr;
        try {
            c = ReadComponent(clause);
        } catch (const Exception& e) {
            throw std::runtime_error("objects.txt: " + e.Message());
        }
        auto* obj = dynamic_cast<TSkinObject*>(c);
        if (obj == nullptr) {
            delete c;
            throw std::runtime_error("objects.txt: a top-level clause is not a skin object");
        }
        obj->ResolveLinks(Into);
        Into.Objects.emplace_back(obj);
    }
}

std::string ExtractLayoutSkinStream(const std::string& Layout) {
    const size_t at = Layout.find("SkinStream = {");
    if (at == std::string::npos)
        throw std::runtime_error("the layout has no SkinStream property");
    const size_t close = Layout.find('}', at);
    if (close == std::string::npos)
        throw std::runtime_error("the layout's SkinStream has no closing brace");
    std::string bytes;
    int high = -1;
    for (size_t i = at + 14; i < close; ++i) {
        const char ch = Layout[i];
        int v = -1;
        if (ch >= '0' && ch <= '9')
            v = ch - '0';
        else if (ch >= 'A' && ch <= 'F')
            v = ch - 'A' + 10;
        else if (ch >= 'a' && ch <= 'f')
            v = ch - 'a' + 10;
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<char>(high * 16 + v));
            high = -1;
        }
    }
    return bytes;
}

std::string ReplaceLayoutSkinStream(const std::string& Layout, std::string_view Stream) {
    const size_t at = Layout.find("SkinStream = {");
    if (at == std::string::npos)
        throw std::runtime_error("the layout has no SkinStream property");
    const size_t close = Layout.find('}', at);
    if (close == std::string::npos)
        throw std::runtime_error("the layout's SkinStream has no closing brace");
    const size_t lineStart = Layout.rfind('\n', at) + 1;
    const std::string indent(at - lineStart + 2, ' ');
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (size_t i = 0; i < Stream.size(); ++i) {
        if (i % 32 == 0)
            hex += "\n" + indent;
        const auto b = static_cast<unsigned char>(Stream[i]);
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return Layout.substr(0, at + 14) + hex + Layout.substr(close);
}

} // namespace kv::skinbuild
