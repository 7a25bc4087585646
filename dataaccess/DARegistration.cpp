#include "dataaccess/DARegistration.h"

namespace kv::dataaccess {

void RegisterDataAccessClasses() {
    (void)detail::dbAccessClassesRegistered();
    (void)detail::msAccessClassesRegistered();
    (void)detail::msConnectDialogClassesRegistered();
    (void)detail::msQueryClassesRegistered();
    (void)detail::msSqlMonitorClassesRegistered();
}

} // namespace kv::dataaccess
