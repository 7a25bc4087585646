#pragma once
// The data-access components' classes (connection, query, monitor, connect dialog and their
// option classes) for the layout reader. Each file registers its classes when it is linked in;
// a program that only names them in a layout references none of their code, and a linker that
// leaves such a file out (MinGW's does) leaves the class unknown ("Class TMSQuery not found").
// Calling RegisterDataAccessClasses() once, before the first layout is read, links them all.

namespace kv::dataaccess {

void RegisterDataAccessClasses();

namespace detail {
bool dbAccessClassesRegistered();
bool msAccessClassesRegistered();
bool msConnectDialogClassesRegistered();
bool msQueryClassesRegistered();
bool msSqlMonitorClassesRegistered();
} // namespace detail

} // namespace kv::dataaccess
