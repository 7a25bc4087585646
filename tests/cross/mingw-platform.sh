#!/usr/bin/env bash
# Cross-compiles the platform target's Win32 backend with MinGW-w64 (x86_64-w64-mingw32-g++-posix)
# and links a small program against it. The result cannot run here; the point is that the Windows
# backend compiles, without warnings, and links.
#
# usage: tests/cross/mingw-platform.sh [BUILD_DIR]     (default: build-cross-mingw in the current folder)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=${1:-$PWD/build-cross-mingw}

if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then
    echo "mingw-platform: x86_64-w64-mingw32-g++-posix is not installed (Debian: g++-mingw-w64-x86-64-posix)" >&2
    exit 1
fi

generator=()
if command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
fi

cmake -S "$here" -B "$build" "${generator[@]}" \
      -DCMAKE_TOOLCHAIN_FILE="$here/mingw-toolchain.cmake" \
      -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" --parallel 2
echo "mingw-platform: the Win32 backend builds: $build/platform_smoke.exe"
