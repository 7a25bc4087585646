#!/usr/bin/env bash
# Creates the demo simulated host that ./run starts the console on: the stand-in SQL Server as
# the host's running MSSQLSERVER service, with the product database attached.
set -euo pipefail
host=$1
bin="$(cd "$(dirname "$0")/.." && pwd)/build/bin"
export PATH="$bin:$PATH"
if simhost create "$host" --standin --service running --database attached; then
    exit 0
fi
# Without the stand-in the console still starts; it then shows the service as missing.
rm -rf "$host"
simhost create "$host"
