#!/usr/bin/env bash
# Builds the test suites that open no window (toolkit, platform, oledb, dataaccess, simulator,
# the trace viewer's reader, console operations) with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/ and
# runs them. Exits non-zero on any failure or sanitizer report. CI runs it after ./test, which
# has installed everything it needs.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build-asan -G Ninja -DKELVORA_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j "$jobs" --target sanitizer_suites

cd build-asan
ctest --output-on-failure -j "$jobs" --timeout 900 \
    -L '^(toolkit|platform|oledb|dataaccess|simulator|traceviewer|console)$'
