// skin-tool: looks into skins and converts them, for skin authors.
//
//   skin-tool info FILE          header, counts, each bitmap's name and size, the object tree
//   skin-tool convert IN OUT     between .uskn .cskn .xskn .mskn, a stored-skin .stream and the
//                                SkinStream of a .layout file (OUT must exist for a layout)
//   skin-tool export FILE DIR    bitmaps as PNG files, objects as text (DIR/objects.txt)
//
// Exit codes: 0 done, 2 bad arguments or bad input (the message says what and where).
#include "png_writer.h"
#include "skin/store/SkinBody.h"
#include "skin/store/SkinBytes.h"
#include "skin/store/SkinFilters.h"
#include "skin/store/SkinObjectClasses.h"
#include "skin/store/SkinSource.h"
#include "skin_sources.h"
#include "toolkit/Filer.h"
#include "toolkit/SysUtils.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

namespace {

constexpr std::uintmax_t kMaxInput = 256u << 20;

std::string readFile(const std::string& Path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(Path, ec);
    if (ec)
        throw std::runtime_error(Path + ": cannot be read (" + ec.message() + ")");
    if (size > kMaxInput)
        throw std::runtime_error(Path + ": larger than any skin (" + std::to_string(size) +
                                 " bytes)");
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    if (!in && !in.eof())
        throw std::runtime_error(Path + ": cannot be read");
    return s.str();
}

void writeFile(const std::string& Path, const std::string& Data) {
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out << Data;
    if (!out)
        throw std::runtime_error(Path + ": cannot be written");
}

std::string extension(const std::string& Path) {
    const std::string ext = std::filesystem::path(Path).extension().string();
    return LowerCase(ext.empty() ? ext : ext.substr(1));
}

void load(const std::string& Path, TSkinSource& Into) {
    const std::string ext = extension(Path);
    const std::string data = readFile(Path);
    kv::skin::SkinStatus st;
    if (ext == "layout") {
        std::string stream;
        try {
            stream = kv::skinbuild::ExtractLayoutSkinStream(data);
        } catch (const std::exception& e) {
            throw std::runtime_error(Path + ": " + e.what());
        }
        st = kv::skin::ReadSkinStream(stream, Into);
        if (st.Ok() && Into.Empty())
            throw std::runtime_error(Path + ": the layout's stored skin is empty (byte 0)");
    } else if (ext == "stream") {
        st = kv::skin::ReadSkinStream(data, Into);
    } else if (const kv::skin::SkinFilter* f = kv::skin::FindSkinFilter(Path)) {
        st = kv::skin::ReadSkinFile(*f, data, Into);
    } else {
        throw std::runtime_error(Path + ": unknown skin format (use .uskn, .cskn, .xskn, .mskn, "
                                        ".stream or .layout)");
    }
    if (!st.Ok())
        throw std::runtime_error(Path + ": " + st.Error);
}

void save(const TSkinSource& Source, const std::string& Path) {
    const std::string ext = extension(Path);
    if (ext == "layout")
        writeFile(Path, kv::skinbuild::ReplaceLayoutSkinStream(readFile(Path),
                                                               kv::skin::WriteSkinStream(&Source)));
    else if (ext == "stream")
        writeFile(Path, kv::skin::WriteSkinStream(&Source));
    else if (const kv::skin::SkinFilter* f = kv::skin::FindSkinFilter(Path))
        writeFile(Path, kv::skin::EncodeSkinFile(*f, Source));
    else
        throw std::runtime_error(Path + ": unknown skin format to write");
}

void printTree(std::ostream& Out, TSkinObject* O, int Depth) {
    Out << std::string(static_cast<size_t>(2 * Depth + 2), ' ') << O->Name() << ": "
        << O->ClassName() << '\n';
    for (int i = 0; i < O->ChildCount(); ++i)
        printTree(Out, O->Child(i), Depth + 1);
}

void info(const TSkinSource& S) {
    const TSkinHeader& h = S.Header;
    std::cout << "Skin:     " << h.SkinName << "\nVersion:  " << h.SkinVersion
              << "\nAuthor:   " << h.Author << "\nE-mail:   " << h.AuthorEmail
              << "\nWeb:      " << h.AuthorWeb << "\nBitmaps:  " << S.Bitmaps.size()
              << "\nObjects:  " << S.Objects.size() << "\n\nBitmaps:\n";
    for (const auto& b : S.Bitmaps)
        std::cout << "  " << b->Name << "  " << b->Width << " x " << b->Height << '\n';
    std::cout << "\nObjects:\n";
    for (const auto& o : S.Objects)
        printTree(std::cout, o.get(), 0);
}

void exportTo(const TSkinSource& S, const std::string& Dir) {
    std::filesystem::create_directories(Dir);
    for (const auto& b : S.Bitmaps) {
        const std::string name = std::filesystem::path(b->Name).filename().string();
        if (name.empty() || name == "." || name == "..")
            throw std::runtime_error("bitmap name '" + b->Name + "' is not a file name");
        writeFile((std::filesystem::path(Dir) / (name + ".png")).string(),
                  kv::skintool::EncodePng(*b));
    }
    std::string text;
    for (const auto& o : S.Objects)
        text += WriteComponentText(o.get()) + "\n";
    writeFile((std::filesystem::path(Dir) / "objects.txt").string(), text);
}

int usage() {
    std::cerr << "usage: skin-tool info FILE\n"
                 "       skin-tool convert IN OUT\n"
                 "       skin-tool export FILE DIR\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return usage();
    const std::string cmd = argv[1];
    try {
        kv::skin::RegisterSkinClasses();
        TSkinSource source;
        if (cmd == "info" && argc == 3) {
            load(argv[2], source);
            info(source);
        } else if (cmd == "convert" && argc == 4) {
            load(argv[2], source);
            save(source, argv[3]);
        } else if (cmd == "export" && argc == 4) {
            load(argv[2], source);
            exportTo(source, argv[3]);
        } else {
            return usage();
        }
        return 0;
    } catch (const std::exception& e) {
        // The file names and texts quoted in a message may hold any bytes: name, never copy,
        // the ones a terminal would take as control characters.
        std::cerr << "skin-tool: " << kv::skin::ReadableText(e.what()) << '\n';
        return 2;
    }
}
