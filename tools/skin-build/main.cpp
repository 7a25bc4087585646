// skin-build: makes a skin from its readable sources (run by the build; see tools/CMakeLists.txt).
//
//   skin-build SKINDIR [--body FILE] [--stream FILE] [--file FILE] [--update-layout LAYOUT]
//
// SKINDIR holds header.txt ("Key = value" lines: SkinName, SkinVersion, Author, AuthorEmail,
// AuthorWeb), bitmaps.txt (the bitmap recipes, see recipe.h) and objects.txt (the top-level skin
// objects as object clauses; children are nested clauses). The outputs: the skin body, the
// stored-skin stream of a form (byte 2, marker, zlib), a skin file whose extension picks the
// filter, and the SkinStream property of the skin engine in a layout file rewritten in place.
// The output depends only on the sources, so the stored skin in the console's layout can be
// compared with a fresh build of it.
#include "recipe.h"
#include "skin/store/SkinBody.h"
#include "skin/store/SkinFilters.h"
#include "skin/store/SkinSource.h"
#include "skin_sources.h"
#include "toolkit/SysUtils.h"

#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace {

std::string readFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + Path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& Path, const std::string& Data) {
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out << Data;
    if (!out)
        throw std::runtime_error("cannot write " + Path);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: skin-build SKINDIR [--body FILE] [--stream FILE] [--file FILE] "
                     "[--update-layout LAYOUT]\n";
        return 2;
    }
    try {
        TSkinSource source;
        const std::string dir = argv[1];
        kv::skinbuild::BuildSkin(readFile(dir + "/header.txt"), readFile(dir + "/bitmaps.txt"),
                                 readFile(dir + "/objects.txt"), source);
        for (int i = 2; i + 1 < argc; i += 2) {
            const std::string opt = argv[i];
            const std::string path = argv[i + 1];
            if (opt == "--body") {
                writeFile(path, kv::skin::WriteSkinBody(source, false));
            } else if (opt == "--stream") {
                writeFile(path, kv::skin::WriteSkinStream(&source));
            } else if (opt == "--file") {
                const kv::skin::SkinFilter* f = kv::skin::FindSkinFilter(path);
                if (f == nullptr)
                    throw std::runtime_error("no skin filter for " + path);
                writeFile(path, kv::skin::EncodeSkinFile(*f, source));
            } else if (opt == "--update-layout") {
                writeFile(path, kv::skinbuild::ReplaceLayoutSkinStream(
                                    readFile(path), kv::skin::WriteSkinStream(&source)));
            } else {
                throw std::runtime_error("unknown option " + opt);
            }
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "skin-build: " << e.what() << '\n';
        return 2;
    }
}
