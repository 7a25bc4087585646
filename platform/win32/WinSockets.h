#pragma once
// Private: Windows Sockets 2.2 for the TCP connections of this process (the trace viewer link
// and the trace viewer's listening port), started once.

#include "platform/Result.h"

namespace kv::platform::win32 {

// WSAStartup(2.2) once for the process; 0, or its failure (remembered).
int startSockets();
// The failure of `what` ("connect", "bind", ...) with WSAGetLastError's number.
Error lastSocketError(const char* what);

} // namespace kv::platform::win32
