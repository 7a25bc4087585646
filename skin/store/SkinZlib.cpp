#include "skin/store/SkinZlib.h"

#include <algorithm>
#include <zlib.h>

namespace kv::skin {

std::string ZlibCompress(std::string_view Data, int Level) {
    uLongf size = compressBound(static_cast<uLong>(Data.size()));
    std::string out(size, '\0');
    const int rc = compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                             reinterpret_cast<const Bytef*>(Data.data()),
                             static_cast<uLong>(Data.size()), Level);
    if (rc != Z_OK)
        return {};
    out.resize(size);
    return out;
}

SkinBytes ZlibDecompress(std::string_view Data, std::size_t MaxSize) {
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK)
        return {{}, "zlib cannot be initialised"};
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Data.data()));
    zs.avail_in = static_cast<uInt>(std::min<std::size_t>(Data.size(), 0x7FFFFFFF));
    SkinBytes result;
    char chunk[16384];
    int rc = Z_OK;
    for (;;) {
        zs.next_out = reinterpret_cast<Bytef*>(chunk);
        zs.avail_out = sizeof chunk;
        rc = inflate(&zs, Z_NO_FLUSH);
        const std::size_t produced = sizeof chunk - zs.avail_out;
        if (result.Data.size() + produced > MaxSize) {
            inflateEnd(&zs);
            return {{},
                    "Compressed skin inflates to more than " + std::to_string(MaxSize) + " bytes"};
        }
        result.Data.append(chunk, produced);
        // Z_BUF_ERROR with no output: the input ended before the stream did.
        if (rc != Z_OK && !(rc == Z_BUF_ERROR && produced > 0))
            break;
    }
    const std::string message = zs.msg != nullptr ? zs.msg : "zlib error " + std::to_string(rc);
    inflateEnd(&zs);
    if (rc == Z_BUF_ERROR)
        return {{}, "Compressed skin data is truncated"};
    if (rc != Z_STREAM_END)
        return {{}, "Compressed skin data is damaged (" + message + ")"};
    return result;
}

} // namespace kv::skin
