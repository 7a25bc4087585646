// The OLE DB constants (property sets, schema rowsets, command dialects) are defined by the
// SDK header only in the one translation unit that asks for them; this is that unit for the
// Windows build. Interface ids come from the uuid library.
#define DBINITCONSTANTS
#include "platform/oledb/oledb.h"
