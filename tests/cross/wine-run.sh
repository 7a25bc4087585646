#!/usr/bin/env bash
# The cross build's test emulator: runs a Windows program under Wine in the build's own Wine
# prefix, without a display and without Wine's own debug output.
#
# usage: tests/cross/wine-run.sh WINEPREFIX PROGRAM.exe [ARGUMENTS...]
set -euo pipefail

export WINEPREFIX=$1
shift
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and asking for them would want a window.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Made by mingw-wine.sh beside the prefix: the Turkish UTF-8 locale, so that Wine's Unix file
# names are UTF-8 even where the machine has no such locale.
locale_dir="$(dirname "$WINEPREFIX")/locale"
if [ -d "$locale_dir/tr_TR.UTF-8" ]; then
    export LOCPATH=$locale_dir
fi
unset DISPLAY WAYLAND_DISPLAY
# A Turkish machine: Wine takes the ANSI code page (1254) from the locale (set for Wine only: this
# shell cannot load the locale made beside the prefix).
exec env LC_ALL=tr_TR.UTF-8 wine "$@"
