#pragma once
// Private: POSIX socket failures renumbered as Windows Sockets errors, so callers read the same
// numbers on both backends.

#include "platform/Result.h"

namespace kv::platform::posix {

ErrorCode wsaFromErrno(int err);
// The failure of `what` ("connect", "bind", ...) with errno `err`.
Error socketFailure(int err, const char* what);

} // namespace kv::platform::posix
