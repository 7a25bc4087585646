#pragma once
// Private: Windows Sockets 2.2 for the TCP connections of this process (the trace viewer link,
// the trace viewer's listening port, the stand-in's server), started once.

#include "platform/Result.h"

#include <cstdint>

namespace kv::platform::win32 {

// WSAStartup(2.2) once for the process; 0, or its failure (remembered).
int startSockets();
// The failure of `what` ("connect", "bind", ...) with WSAGetLastError's number.
Error lastSocketError(const char* what);

// A socket listening on 127.0.0.1:`port` (0: a port the system chooses, then told in `bound`),
// for this process alone (SO_EXCLUSIVEADDRUSE: on Windows SO_REUSEADDR would let another program
// take the port from under it). Starts Windows Sockets first. The socket as its integer value.
Result<std::uintptr_t> listenOnLoopback(std::uint16_t port, int backlog, std::uint16_t& bound);

} // namespace kv::platform::win32
