// Private: registration of the visual classes with the class registry (idempotent). Called by
// the application object and by every form before a layout is read, so the registrations are
// linked in even when a program names the classes only in its layouts.
#pragma once

namespace kv::ui {
void registerUIClasses();
}
