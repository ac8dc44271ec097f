#!/usr/bin/env bash
# Builds Linetap from scratch if needed and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset debug
cmake --build --preset debug
ctest --preset debug -j2
