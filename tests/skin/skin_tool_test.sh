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
# A damaged bitmap count (one more than the skin holds, and one far too large) is told in words:
# exit code 2, "bitmap count" in the message, and no control characters from the skin's bytes.
count_at=$(( $(head -c 4 "$skins/xpblue.uskn" | od -An -tu4) + 4 ))
for n in 1 2 3 4; do
    len=$(dd if="$skins/xpblue.uskn" bs=1 skip="$count_at" count=4 2>/dev/null | od -An -tu4)
    count_at=$(( count_at + 4 + len ))
done
for count in '\x3c\x00\x00\x00' '\x3b\x00\x00\x0b'; do
    cp "$skins/xpblue.uskn" "$work/count.uskn"
    # shellcheck disable=SC2059
    printf "$count" | dd of="$work/count.uskn" bs=1 seek="$count_at" conv=notrunc 2>/dev/null
    "$tool" info "$work/count.uskn" > /dev/null 2> "$work/err.txt"
    rc=$?
    [ "$rc" -eq 2 ] || fail "bitmap count $count: exit code $rc"
    grep -q 'bitmap count' "$work/err.txt" || fail "bitmap count $count: $(cat -v "$work/err.txt")"
    if tr -d '\n' < "$work/err.txt" | LC_ALL=C grep -q '[[:cntrl:]]'; then
        fail "bitmap count $count: control characters in $(cat -v "$work/err.txt")"
    fi
done
echo "skin-tool: all cases passed"
