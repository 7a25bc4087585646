#!/usr/bin/env bash
# Runs every libFuzzer target of the project for SECONDS each and prints one line per target:
# executions, coverage and features from libFuzzer's last statistics line, and what it found.
#
#   tools/fuzz-all.sh SECONDS [-j N] [TARGET...]
#
# Builds the fuzz tree in build-fuzz/ first (configures it when missing; the build is a no-op when
# it is up to date). Each target starts from a copy of its seed corpus (tests/*/corpus/TARGET/),
# so the checked-in seeds are never changed; the work corpus, the log and whatever the target
# found (crash-, leak-, timeout-, oom- files) stay in build-fuzz/fuzz-work/TARGET/. Up to N
# targets run at a time (default: the number of cores). Exits non-zero when a target found
# something or could not run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

usage() {
    echo "usage: tools/fuzz-all.sh SECONDS [-j N] [TARGET...]" >&2
    exit 2
}

[ $# -ge 1 ] || usage
seconds=$1
shift
[[ $seconds =~ ^[0-9]+$ ]] && [ "$seconds" -gt 0 ] || usage
jobs=$(nproc 2>/dev/null || echo 2)
only=()
while [ $# -gt 0 ]; do
    case $1 in
    -j)
        [ $# -ge 2 ] && [[ $2 =~ ^[0-9]+$ ]] && [ "$2" -gt 0 ] || usage
        jobs=$2
        shift 2
        ;;
    -j[0-9]*)
        jobs=${1#-j}
        shift
        ;;
    -*) usage ;;
    *)
        only+=("$1")
        shift
        ;;
    esac
done

# The fuzz targets are the ones declared with kelvora_add_fuzzer.
mapfile -t targets < <(grep -rhoE --include=CMakeLists.txt 'kelvora_add_fuzzer\(fuzz_[A-Za-z0-9_]+' \
    . | sed 's/.*(//' | sort -u)
if [ ${#only[@]} -gt 0 ]; then
    for t in "${only[@]}"; do
        printf '%s\n' "${targets[@]}" | grep -qx "$t" || { echo "unknown fuzz target: $t" >&2; exit 2; }
    done
    targets=("${only[@]}")
fi
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets found" >&2; exit 2; }

# clang builds the fuzz tree; install it the way tools/install-deps.sh installs the rest.
if ! command -v clang++ >/dev/null; then
    if [ "$(id -u)" -eq 0 ]; then
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends clang >/dev/null
    else
        echo "clang is missing; install it with: sudo apt-get install clang" >&2
        exit 1
    fi
fi

build=$root/build-fuzz
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DKELVORA_FUZZ=ON \
        -DKELVORA_SANITIZE=address,undefined "${launcher[@]}" >/dev/null
fi
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

# Controls without a window, no symbolizer look-ups beyond the local one.
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

work=$build/fuzz-work
mkdir -p "$work"

run_one() {
    local t=$1 dir=$work/$1
    rm -rf "$dir"
    mkdir -p "$dir/corpus" "$dir/findings"
    local seeds
    seeds=$(find "$root/tests" -type d -path "*/corpus/$t" -print -quit)
    if [ -n "$seeds" ]; then
        cp -r "$seeds/." "$dir/corpus/"
    fi
    local dict=()
    [ -n "$seeds" ] && [ -f "$seeds/../$t.dict" ] && dict=(-dict="$seeds/../$t.dict")
    local status=0
    (cd "$dir" && "$build/fuzz/$t" "$dir/corpus" -max_total_time="$seconds" -timeout=25 \
        -rss_limit_mb=2048 -malloc_limit_mb=1024 -print_final_stats=1 \
        -artifact_prefix="$dir/findings/" "${dict[@]}" >"$dir/log" 2>&1) || status=$?
    echo "$status" >"$dir/status"
}

# Up to $jobs targets at a time.
running=0
for t in "${targets[@]}"; do
    run_one "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait

failed=0
printf '%-28s %12s %8s %10s  %s\n' target executions cov features findings
for t in "${targets[@]}"; do
    dir=$work/$t
    status=$(cat "$dir/status" 2>/dev/null || echo 1)
    # The last statistics line: "#123  DONE  cov: 45 ft: 67 corp: ..." (or pulse/NEW/REDUCE).
    stats=$(grep -E '^#[0-9]+' "$dir/log" | tail -n 1 || true)
    execs=$(grep -oE '^stat::number_of_executed_units: *[0-9]+' "$dir/log" | grep -oE '[0-9]+$' || true)
    [ -n "$execs" ] || execs=$(sed -nE 's/^#([0-9]+).*/\1/p' <<<"$stats")
    cov=$(grep -oE 'cov: [0-9]+' <<<"$stats" | grep -oE '[0-9]+' || true)
    ft=$(grep -oE 'ft: [0-9]+' <<<"$stats" | grep -oE '[0-9]+' || true)
    mapfile -t found < <(find "$dir/findings" -maxdepth 1 -type f \
        \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) -printf '%f\n')
    note=none
    if [ ${#found[@]} -gt 0 ]; then
        note="${found[*]}"
    elif [ "$status" != 0 ]; then
        note="exit $status (see ${dir#"$root"/}/log)"
    fi
    [ "$note" = none ] || failed=1
    printf '%-28s %12s %8s %10s  %s\n' "$t" "${execs:--}" "${cov:--}" "${ft:--}" "$note"
done
exit "$failed"
