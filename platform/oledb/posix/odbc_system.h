// The ODBC declarations of the driver manager (unixODBC), for odbc_api.cpp only: the POSIX build
// puts this folder on that file's include path.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
