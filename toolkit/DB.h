// The toolkit's database error: raised by the data-access layer for misuse (fixed English texts).
//   DatabaseError(msg)              raises EDatabaseError(msg)
//   DatabaseError(msg, component)   prefixes the component's name: "MSCon: msg"
#pragma once

#include "toolkit/SysUtils.h"

class TComponent;

class EDatabaseError : public Exception {
public:
    using Exception::Exception;
    std::string ClassName() const override { return "EDatabaseError"; }
};

[[noreturn]] void DatabaseError(const std::string& Message, TComponent* Component = nullptr);
