#pragma once
// Private: POSIX socket failures renumbered as Windows Sockets errors, so callers read the same
// numbers on both backends; and the listening socket the servers of this backend open.

#include "platform/Result.h"

#include <cstdint>

namespace kv::platform::posix {

ErrorCode wsaFromErrno(int err);
// The failure of `what` ("connect", "bind", ...) with errno `err`.
Error socketFailure(int err, const char* what);

// A socket listening on 127.0.0.1:`port` (0: a port the system chooses, then told in `bound`),
// with SO_REUSEADDR so that a restarted server takes its port back while old connections close.
Result<int> listenOnLoopback(std::uint16_t port, int backlog, std::uint16_t& bound);

} // namespace kv::platform::posix
