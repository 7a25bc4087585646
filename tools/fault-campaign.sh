#!/usr/bin/env bash
# The fault campaign of the rebuild (tests/e2e/fault_campaign.h).
#
#   tools/fault-campaign.sh COUNT [SEED]          COUNT scenarios; a new campaign seed each run
#                                                 unless SEED is given (it is printed first)
#   tools/fault-campaign.sh --replay SEED [--verbose] [--break-copy]
#                                                 one scenario alone, with its log and verdict
#
# A violation prints the scenario's seed, the scenario in words and the --replay command for it.
# A campaign ends with a table of how many scenarios each starting state, fault and ending got
# (and how often each fault's moment came), then "N scenarios, M violations"; the exit status is
# non-zero when any scenario broke a rule. JOBS=N sets the number of worker processes (default
# 4: the scenarios mostly wait on the stand-in server, so more workers than cores pay off).
# Builds what it needs in build/ first, configured as ./test configures it.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: tools/fault-campaign.sh COUNT [SEED] | --replay SEED [--verbose] [--break-copy]" >&2
    exit 2
}

[ $# -ge 1 ] || usage
if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >&2
fi
cmake --build build -j2 --target console_fault_campaign sqlserver-standin >&2

export QT_QPA_PLATFORM=offscreen
export LANG=tr_TR.UTF-8
program=build/tests/console_fault_campaign

if [ "$1" = --replay ]; then
    shift
    [ $# -ge 1 ] || usage
    exec "$program" --replay "$@"
fi

count=$1
case $count in
'' | *[!0-9]*) usage ;;
esac
args=(--count "$count" --jobs "${JOBS:-4}" --table)
if [ $# -ge 2 ]; then
    args+=(--seed "$2")
fi
exec "$program" "${args[@]}"
