#include "skin/store/SkinFilters.h"

#include "skin/store/SkinBody.h"
#include "skin/store/SkinSource.h"
#include "skin/store/SkinZlib.h"
#include "toolkit/SysUtils.h"

namespace kv::skin {

namespace {

constexpr std::string_view kMarker = "QVLZ";

} // namespace

const std::vector<SkinFilter>& SkinFilters() {
    static const std::vector<SkinFilter> filters{
        {"uskn", "Uncompressed Skin", false, 0, false},
        {"cskn", "Compressed Skin", true, 1, false},
        {"xskn", "Ultra Compressed Skin", true, 9, false},
        {"mskn", "Maximum Compressed", true, 9, true},
    };
    return filters;
}

const SkinFilter& CompressedSkinFilter() {
    return SkinFilters()[1];
}

const SkinFilter* FindSkinFilter(std::string_view FileName) {
    const size_t dot = FileName.rfind('.');
    const size_t slash = FileName.find_last_of("/\\");
    if (dot == std::string_view::npos || (slash != std::string_view::npos && slash > dot))
        return nullptr;
    const std::string ext = LowerCase(FileName.substr(dot + 1));
    for (const SkinFilter& f : SkinFilters())
        if (ext == f.Extension)
            return &f;
    return nullptr;
}

SkinBytes DecodeSkinFile(const SkinFilter& Filter, std::string_view FileData) {
    if (!Filter.Compressed)
        return {std::string(FileData), {}};
    if (FileData.size() < kMarker.size())
        return {{}, "Compressed skin is shorter than its 4-byte marker"};
    return ZlibDecompress(FileData.substr(kMarker.size()));
}

std::string EncodeSkinFile(const SkinFilter& Filter, const TSkinSource& Source) {
    const std::string body = WriteSkinBody(Source, Filter.BinaryForms);
    if (!Filter.Compressed)
        return body;
    return std::string(kMarker) + ZlibCompress(body, Filter.Level);
}

SkinStatus ReadSkinFile(const SkinFilter& Filter, std::string_view FileData, TSkinSource& Into) {
    SkinBytes body = DecodeSkinFile(Filter, FileData);
    if (!body.Ok()) {
        Into.Clear();
        return {body.Error};
    }
    return ReadSkinBody(body.Data, Into);
}

SkinStatus ReadSkinStream(std::string_view Stream, TSkinSource& Into) {
    Into.Clear();
    if (Stream.empty())
        return {"Stored skin is empty (no leading byte)"};
    if (Stream[0] == 0)
        return {};
    return ReadSkinFile(CompressedSkinFilter(), Stream.substr(1), Into);
}

std::string WriteSkinStream(const TSkinSource* Source) {
    if (Source == nullptr || Source->Empty())
        return std::string(1, '\0');
    return std::string(1, '\2') + EncodeSkinFile(CompressedSkinFilter(), *Source);
}

} // namespace kv::skin
