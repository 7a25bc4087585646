#pragma once
// The skinned controls' classes (TSkinEngine, TSkinCustomControl, TSkinCustomButton,
// TSkinButton) for the layout reader. Each registers itself when its file is linked in; a
// program that only names them in a layout references none of their code, and a linker that
// leaves such a file out (MinGW's does) leaves the class unknown ("Class TSkinButton not
// found"). Calling RegisterSkinControls() once, before the first layout is read, links them all.

namespace kv::skin {

void RegisterSkinControls();

namespace detail {
bool skinEngineClassesRegistered();
bool skinControlClassesRegistered();
bool skinButtonClassesRegistered();
} // namespace detail

} // namespace kv::skin
