#!/usr/bin/env bash
# Makes the Windows program: kelvora-console.exe, kelvora-trace.exe and skin-tool.exe,
# cross-built with MinGW-w64 against the Qt for Windows of tools/build-qt-mingw.sh, packed with
# everything they load into build/windows/kelvora-console-win64.zip.
#
#   tools/package-windows.sh [HOST_BUILD]
#
# HOST_BUILD (default build) is a Linux build of this tree: its render-pictures draws the window's
# pictures (the Qt for Windows has no SVG renderer) and its skin-build makes the sample skin.
# The first run builds Qt (about 40 minutes); later runs reuse it and take a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
host_build=$(cd "${1:-build}" && pwd)
out=$host_build/windows
build=$out/build
stage_root=$out/stage
stage=$stage_root/kelvora-console
zip=$out/kelvora-console-win64.zip

for tool in render-pictures skin-build; do
    if [ ! -x "$host_build/bin/$tool" ]; then
        echo "package-windows: $host_build/bin/$tool is missing; build the Linux tree first" \
             "(cmake --build $host_build --target $tool)" >&2
        exit 1
    fi
done

qt=$(tools/build-qt-mingw.sh | tail -n 1)
mkdir -p "$out"
start=$SECONDS

# A build folder configured from another source or another Qt starts afresh.
if [ -f "$build/CMakeCache.txt" ] &&
    { ! grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$repo" "$build/CMakeCache.txt" ||
      ! grep -qF "$qt/" "$build/CMakeCache.txt"; }; then
    rm -rf "$build"
fi
launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$repo" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKELVORA_WINDOWS_PROGRAMS=ON -DKELVORA_BENCH=OFF \
    -DKELVORA_HOST_TOOLS_DIR="$host_build/bin" \
    -DZLIB_LIBRARY="$qt/zlib/lib/libz.a" -DZLIB_INCLUDE_DIR="$qt/zlib/include" \
    "${launcher[@]}" >"$out/configure.log" 2>&1 || {
    cat "$out/configure.log" >&2
    exit 1
}
programs=(kelvora-console kelvora-trace skin-tool)
cmake --build "$build" --target "${programs[@]}" >"$out/build.log" 2>&1 || {
    grep -E 'error|Error' "$out/build.log" | head -n 40 >&2
    echo "package-windows: the build failed; the whole output is in $out/build.log" >&2
    exit 1
}

# --- the folder that becomes the zip --------------------------------------------------------
rm -rf "$stage_root"
mkdir -p "$stage/platforms" "$stage/styles" "$stage/licenses" "$stage/skins"
for program in "${programs[@]}"; do
    cp "$build/bin/$program.exe" "$stage/"
done
x86_64-w64-mingw32-strip "$stage"/*.exe
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt/plugins/styles/"*.dll "$stage/styles/" 2>/dev/null || true
# The plug-ins live beside the programs; nothing is looked for where Qt was built.
printf '[Paths]\r\nPrefix = .\r\nPlugins = .\r\n' >"$stage/qt.conf"
"$host_build/bin/skin-build" "$repo/resources/skins/xpblue" --file "$stage/skins/xpblue.cskn" >/dev/null

# Every DLL the programs and plug-ins load, transitively: from Qt or the MinGW runtime into the
# folder; anything else must be part of Windows itself.
mingw_runtime_dirs=(/usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib)
windows_dlls=" advapi32 authz bcrypt comctl32 comdlg32 crypt32 d3d11 d3d12 d3d9 dwmapi dwrite dxgi "
windows_dlls+="gdi32 imm32 kernel32 mpr msvcrt netapi32 ntdll odbc32 ole32 oleaut32 rpcrt4 rstrtmgr "
windows_dlls+="setupapi shcore "
windows_dlls+="shell32 shlwapi user32 userenv uxtheme version winmm winspool.drv ws2_32 wtsapi32 "
ship_dependencies() {
    local pending=("$@") seen=" " file dll lower found
    while [ ${#pending[@]} -gt 0 ]; do
        file=${pending[0]}
        pending=("${pending[@]:1}")
        while read -r dll; do
            lower=$(echo "$dll" | tr 'A-Z' 'a-z')
            case "$seen" in *" $lower "*) continue ;; esac
            seen="$seen$lower "
            case "$lower" in api-ms-win-*) continue ;; esac
            if [ -f "$stage/$dll" ]; then
                continue
            fi
            found=""
            for dir in "$qt/bin" "${mingw_runtime_dirs[@]}"; do
                if [ -f "$dir/$dll" ]; then
                    found=$dir/$dll
                    break
                fi
            done
            if [ -n "$found" ]; then
                cp "$found" "$stage/$dll"
                pending+=("$stage/$dll")
            elif [[ "$windows_dlls" != *" ${lower%.dll} "* && "$windows_dlls" != *" $lower "* ]]; then
                echo "package-windows: $(basename "$file") needs $dll, which is neither shipped" \
                     "nor part of Windows" >&2
                exit 1
            fi
        done < <(x86_64-w64-mingw32-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
    done
}
ship_dependencies "$stage"/*.exe "$stage"/platforms/*.dll "$stage"/styles/*.dll
# Symbols are of no use on a pharmacy PC and make up half of the DLLs' size.
x86_64-w64-mingw32-strip --strip-unneeded "$stage"/*.dll "$stage"/platforms/*.dll "$stage"/styles/*.dll

# --- licences and the Turkish read-me ----------------------------------------------------------
cp "$qt/licenses/"* "$stage/licenses/"
cp "$qt/zlib/README.zlib" "$stage/licenses/zlib-README.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/gcc-runtime-copyright.txt"
cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/licenses/mingw-w64-copyright.txt"
cp "$repo/tools/windows/LISANSLAR.txt" "$stage/licenses/"
# Notepad on every supported Windows reads UTF-8 with its byte-order mark; lines end in CR LF.
{
    printf '\xef\xbb\xbf'
    sed 's/$/\r/' "$repo/tools/windows/BENIOKU.txt"
} >"$stage/BENIOKU.txt"

rm -f "$zip"
(cd "$stage_root" && cmake -E tar cf "$zip" --format=zip kelvora-console)
echo "package-windows: $zip ($(du -k "$zip" | cut -f1) KB, built in $((SECONDS - start)) s)"
