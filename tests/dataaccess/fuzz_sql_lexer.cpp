// Fuzz target for the SQL lexer, the parameter scan and the macro scan: any byte string must
// either scan or raise the lexer's own error, and the command text must be a faithful copy of
// the input apart from the markers.
#include "dataaccess/MSParser.h"
#include "dataaccess/Macros.h"
#include "dataaccess/ParamScan.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        kv::dataaccess::TMSParser p(text);
        std::size_t covered = 0;
        p.OmitComment = false;
        for (auto lx = p.GetNext(); lx.Kind != kv::dataaccess::lkEnd; lx = p.GetNext()) {
            if (lx.Pos != covered || lx.Size == 0)
                std::abort(); // lexems must tile the text without gaps or empty steps
            covered += lx.Size;
        }
        if (covered != size)
            std::abort();
        auto r = kv::dataaccess::ScanParams(text);
        if (r.CommandText.size() > size)
            std::abort();
        kv::dataaccess::TMacros m;
        m.AllowNumericNames = (size & 1) != 0;
        m.Scan(text);
        (void)m.Expand(text);
    } catch (const EParserError&) {
    }
    return 0;
}
