#include "skin/SkinRegistration.h"

namespace kv::skin {

void RegisterSkinControls() {
    (void)detail::skinEngineClassesRegistered();
    (void)detail::skinControlClassesRegistered();
    (void)detail::skinButtonClassesRegistered();
}

} // namespace kv::skin
