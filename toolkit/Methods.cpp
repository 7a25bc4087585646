#include "toolkit/Methods.h"

#include "toolkit/SysUtils.h"

namespace kv::toolkit {

std::any MethodTable::Find(const std::string& Name) const {
    for (const auto& [name, handler] : FEntries)
        if (SameText(name, Name))
            return handler;
    return {};
}

} // namespace kv::toolkit
