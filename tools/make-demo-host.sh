#!/usr/bin/env bash
# Creates the demo simulated host that ./run starts the console on.
set -euo pipefail
host=$1
simhost=$(dirname "$0")/../build/bin/simhost
if "$simhost" create "$host" --standin 2>/dev/null; then
    exit 0
fi
"$simhost" create "$host"
