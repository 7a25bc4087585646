#!/usr/bin/env bash
# Checks a saved console log against the start-up of a machine without SQL Server and without
# the product folder: every line "TIME MESSAGE" in code page 1254, each ending in CR LF, the
# messages exactly these, in this order. (Wine has no SQL Server OLE DB provider: the console
# uses its own over ODBC and says so after the first line.)
#
# usage: tests/cross/check-startup-log.sh LOG
set -euo pipefail
log=${1:?log file}

expected=(
    "Program Açıldı."
    "MsSql OLE DB sağlayıcısı yok, ODBC ile bağlanılacak."
    "Çalışan programlar kapatılıyor..."
    "Çalışan programlar kapatıldı."
    "Server Kontrol Ediliyor."
    "Server durumu: Server Yok"
    "Kelvora dosyaları kontrol ediliyor."
    "Klasör:Yok"
    "MDF:Yok"
    "LDF:Yok"
    "Kelvora Datasına bağlanılamadı."
)

fail() {
    echo "check-startup-log: $*" >&2
    echo "--- the log, as UTF-8 (CR shown as ^M):" >&2
    iconv -f CP1254 -t UTF-8 "$log" | sed 's/\r$/^M/' >&2 || od -c "$log" | head -40 >&2
    exit 1
}

[ -s "$log" ] || fail "the log is empty"
# Every LF has its CR, and the file ends with CR LF.
lf=$(tr -cd '\n' <"$log" | wc -c)
crlf=$(LC_ALL=C grep -c $'\r$' "$log" || true)
[ "$lf" -eq "$crlf" ] || fail "$((lf - crlf)) line(s) end in LF without CR"
[ "$(tail -c 2 "$log" | od -An -tx1 | tr -d ' ')" = "0d0a" ] ||
    fail "the last line does not end in CR LF"
# Code page 1254: the Turkish letters are single bytes (ı = FD), never UTF-8 pairs.
LC_ALL=C grep -q $'\xfd' "$log" || fail "no 1254 byte for ı: not written in code page 1254"
text=$(iconv -f CP1254 -t UTF-8 "$log") || fail "not valid code page 1254"

messages=()
while IFS= read -r line; do
    line=${line%$'\r'}
    if [[ ! "$line" =~ ^[0-9]{1,2}[:.][0-9]{2}[:.][0-9]{2}\ (.*)$ ]]; then
        fail "a line without its time: '$line'"
    fi
    messages+=("${BASH_REMATCH[1]}")
done <<<"$text"

if [ "${#messages[@]}" -ne "${#expected[@]}" ]; then
    fail "${#messages[@]} lines, expected ${#expected[@]}"
fi
for i in "${!expected[@]}"; do
    [ "${messages[$i]}" = "${expected[$i]}" ] ||
        fail "line $((i + 1)) is '${messages[$i]}', expected '${expected[$i]}'"
done
echo "check-startup-log: the ${#expected[@]} start-up lines, in code page 1254 with CR LF"
