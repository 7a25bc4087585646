// The OLE DB seam: everything the data-access layer needs to talk to an OLE DB provider through
// COM. On Windows these are the system's own headers; elsewhere the declarations of
// platform/oledb/posix/ stand in for them with the same names and values, and the COM-lite
// runtime (com_lite.h) plus the portable SQL Server provider implement them.
#pragma once

#ifdef _WIN32

#ifndef NOMINMAX
#define NOMINMAX
#endif
// No GDI: its macros (ANSI_CHARSET, GetObject, ...) would replace the toolkit's own names.
#ifndef NOGDI
#define NOGDI
#endif
// windows.h must come first.
#include <windows.h>
// clang-format off
#include <oleauto.h>
#include <oledb.h>
#include <oledberr.h>
// clang-format on

// windows.h picks the "A" or "W" form of its functions by macros of the plain name, and defines
// a few short words; the names of the toolkit and the data-access layer that read the same would
// be renamed with them. The seam takes them back (the layers above call no Win32 function).
#undef CopyFile
#undef CreateDirectory
#undef CreateFont
#undef CreateWindow
#undef DeleteFile
#undef DrawText
#undef FindWindow
#undef GetClassInfo
#undef GetClassName
#undef GetComputerName
#undef GetCurrentTime
#undef GetMessage
#undef GetObject
#undef GetProp
#undef GetUserName
#undef LoadString
#undef MessageBox
#undef MoveFile
#undef PostMessage
#undef RegisterClass
#undef SendMessage
#undef SetProp
#undef Yield
#undef DELETE
#undef IN
#undef OUT
#undef OPTIONAL
#undef near
#undef far

#else

#include "platform/oledb/posix/com.h"
#include "platform/oledb/posix/oledb_types.h"

#endif

#include "platform/oledb/sqlserver_provider.h"
