#!/usr/bin/env bash
# skin-tool from the command line: info, conversions through every format and back, export,
# and exit code 2 with a message on bad input.
# usage: skin_tool_test.sh SKIN-TOOL BUILT-SKIN-DIR LAYOUT
set -u
tool=$1 skins=$2 layout=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$tool" info "$skins/xpblue.cskn" > "$work/info.txt" || fail "info exit code"
grep -q '^Skin:     XP Blue$' "$work/info.txt" || fail "info header"
grep -q '^Bitmaps:  59$' "$work/info.txt" || fail "info bitmap count"
grep -q '^Objects:  26$' "$work/info.txt" || fail "info object count"
grep -q '^  BUTTON.bmp  20 x 115$' "$work/info.txt" || fail "info bitmap size"
grep -q '^    Face: TSkinButtonObject$' "$work/info.txt" || fail "info object tree"

# Every format and back: the info output stays the same.
cp "$layout" "$work/copy.layout"
prev="$skins/xpblue.cskn"
for next in a.uskn b.xskn c.mskn d.stream copy.layout e.cskn; do
    "$tool" convert "$prev" "$work/$next" || fail "convert $prev -> $next"
    prev="$work/$next"
done
"$tool" info "$prev" > "$work/info2.txt" || fail "info after conversions"
cmp -s "$work/info.txt" "$work/info2.txt" || fail "conversions changed the skin"
"$tool" info "$layout" > "$work/info3.txt" || fail "info of the layout"
cmp -s "$work/info.txt" "$work/info3.txt" || fail "the layout holds another skin"

"$tool" export "$skins/xpblue.uskn" "$work/out" || fail "export"
[ "$(ls "$work/out"/*.png | wc -l)" -eq 59 ] || fail "export wrote $(ls "$work/out" | wc -l) files"
grep -q '^object Button: TSkinObject' "$work/out/objects.txt" || fail "exported objects"
head -c 8 "$work/out/BUTTON.bmp.png" | od -An -c | grep -q 'P   N   G' || fail "PNG signature"

# Bad input: exit code 2 and a message.
printf 'QVLZ\x78\x9c\x01\x02garbage' > "$work/bad.cskn"
head -c 1000 "$skins/xpblue.uskn" > "$work/short.uskn"
printf 'x' > "$work/odd.zip"
for args in "info $work/bad.cskn" "info $work/short.uskn" "info $work/odd.zip" \
            "info $work/missing.cskn" "convert $skins/xpblue.cskn $work/out.zip" "frobnicate x" "info"; do
    # shellcheck disable=SC2086
    "$tool" $args > /dev/null 2> "$work/err.txt"
    rc=$?
    [ "$rc" -eq 2 ] || fail "'$args' exited with $rc"
    [ -s "$work/err.txt" ] || fail "'$args' gave no message"
done
echo "skin-tool: all cases passed"
