// ERegistryException: a failure to read or write the system registry (stored logins, discovery,
// window positions). The registry access itself lives in the platform layer.
#pragma once

#include "toolkit/SysUtils.h"

class ERegistryException : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "ERegistryException"; }
};
