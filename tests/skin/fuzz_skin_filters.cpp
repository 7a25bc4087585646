// Fuzz target: the skin file filters and the stored-skin stream (marker, zlib, body). The first
// byte picks the reader: 0-3 the four file filters, otherwise the SkinStream property.
#include "skin/store/SkinFilters.h"
#include "skin/store/SkinSource.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    if (Size == 0)
        return 0;
    const std::string_view rest(reinterpret_cast<const char*>(Data) + 1, Size - 1);
    TSkinSource source;
    const auto& filters = kv::skin::SkinFilters();
    if (Data[0] < filters.size())
        (void)kv::skin::ReadSkinFile(filters[Data[0]], rest, source);
    else
        (void)kv::skin::ReadSkinStream(rest, source);
    return 0;
}
