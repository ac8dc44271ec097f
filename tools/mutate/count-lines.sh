#!/usr/bin/env bash
# Non-blank lines of code (C++ sources and headers, scripts) under src/, tools/ and tests/, and
# the share the tests hold.
set -euo pipefail
cd "$(git -C "$(dirname "$0")" rev-parse --show-toplevel)"
count() { git ls-files -- "$@" | grep -E '\.(cpp|h|h\.in|sh)$' | xargs cat | grep -c '[^[:space:]]'; }
tests=$(count tests)
all=$(count src tools tests)
echo "tests: $tests of $all non-blank lines ($(awk "BEGIN { printf \"%.3f\", $tests / $all }"))"
