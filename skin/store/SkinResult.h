// The outcome of a skin-store step that can fail on outside data: empty Error means success.
#pragma once

#include <string>

namespace kv::skin {

struct [[nodiscard]] SkinStatus {
    std::string Error;
    bool Ok() const { return Error.empty(); }
};

// Bytes produced by a step that can fail (decompression, file framing).
struct [[nodiscard]] SkinBytes {
    std::string Data;
    std::string Error;
    bool Ok() const { return Error.empty(); }
};

} // namespace kv::skin
