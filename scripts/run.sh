#!/usr/bin/env bash
# Builds Linetap and starts it. Without serial hardware named in LINETAP_COM1/LINETAP_COM2 it
# starts the demo line simulator, which gives Linetap two simulated devices to watch.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release
cmake --build --preset release
if [ -n "${LINETAP_COM1:-}${LINETAP_COM2:-}" ] || [ "${1:-}" = "--real" ]; then
    exec build/release/linetap
fi
exec build/release/linetap-demo build/release/linetap
