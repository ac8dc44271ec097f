#!/usr/bin/env bash
# Builds Linetap and starts it. Without serial hardware named in LINETAP_COM1/LINETAP_COM2 it
# starts the demo line simulator, which gives Linetap two simulated devices to watch.
# Only what is started gets built; the tests and the benchmark are left to scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release
if [ -n "${LINETAP_COM1:-}${LINETAP_COM2:-}" ] || [ "${1:-}" = "--real" ]; then
    cmake --build --preset release --target linetap
    exec build/release/linetap
fi
cmake --build --preset release --target linetap linetap-demo
exec build/release/linetap-demo build/release/linetap
