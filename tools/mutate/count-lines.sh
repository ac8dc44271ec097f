#!/usr/bin/env bash
# Non-blank lines of code (C++ sources and headers, scripts) under src/, tools/ and tests/, and
# the share the tests hold: all of tests/, and the tests without the simulated backend
# (tests/sim, the test double of the serial ports and the event loop); and the same share counted
# over C++ sources and headers only.
set -euo pipefail
cd "$(git -C "$(dirname "$0")" rev-parse --show-toplevel)"
count() {
    git ls-files -- "$@" | grep -E '\.(cpp|h|h\.in|sh)$' | xargs cat | grep -c '[^[:space:]]'
}
all=$(count src tools tests)
tests=$(count tests)
sim=$(count tests/sim)
share() { awk "BEGIN { printf \"%.3f\", $1 / $all }"; }
echo "all code:               $all non-blank lines"
echo "tests:                  $tests ($(share "$tests"))"
echo "tests without tests/sim: $((tests - sim)) ($(share $((tests - sim))))"
cpp() { git ls-files -- "$@" | grep -E '\.(cpp|h)$' | xargs cat | grep -c '[^[:space:]]'; }
cppAll=$(cpp src tools tests)
cppTests=$(cpp tests)
echo "C++ files only:         $cppTests of $cppAll ($(awk "BEGIN { printf \"%.3f\", $cppTests / $cppAll }"))"
