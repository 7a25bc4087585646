#pragma once
// The data-access layer's user-interface module: installs, once at program start, the hooks the
// layer calls without knowing Qt: the login form for the connect dialogs (found by class name,
// TMSConnectForm by default), the SQL wait cursor, the application's title for the stored
// logins and the trace monitor's debug dialog, and registers the default login form.

namespace kv::dataaccess::ui {

void InstallDataAccessUI();
// Registers TMSConnectForm under its class name unless that name is taken.
void RegisterMSConnectForm();

} // namespace kv::dataaccess::ui
