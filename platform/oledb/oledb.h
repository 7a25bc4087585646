// The OLE DB seam: everything the data-access layer needs to talk to an OLE DB provider through
// COM. On Windows these are the system's own headers; elsewhere the declarations of
// platform/oledb/posix/ stand in for them with the same names and values, and the COM-lite
// runtime (com_lite.h) plus the portable SQL Server provider implement them.
#pragma once

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
// windows.h must come first.
#include <windows.h>
// clang-format off
#include <oleauto.h>
#include <oledb.h>
#include <oledberr.h>
// clang-format on

#else

#include "platform/oledb/posix/com.h"
#include "platform/oledb/posix/oledb_types.h"

#endif

#include "platform/oledb/sqlserver_provider.h"
