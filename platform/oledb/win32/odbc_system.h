// The ODBC declarations of Windows (odbc32), for odbc_api.cpp only: the Windows build puts this
// folder on that file's include path. The ODBC headers use the types of windows.h.
#pragma once

// windows.h must come first.
#include <windows.h>
// clang-format off
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
// clang-format on
