#!/usr/bin/env bash
# Fails when a source includes a layer above its own or a peer layer beside it, or when includes
# go round in a circle. Each folder under src/ is one layer; a folder includes its own headers and
# those of lower layers only. The tests and tools sit above everything and may include any layer.
set -euo pipefail
cd "$(dirname "$0")/.."

# From the ground up; layers on one line are peers and may not include each other.
layers=(
    "base"
    "serial"
    "serial/linux serial/network"
    "capture"
    "record"
    "settings"
    "panels"
    "app"
    "qt"
    "headless window"
    "program"
)
declare -A rank
for i in "${!layers[@]}"; do
    for layer in ${layers[$i]}; do rank[$layer]=$i; done
done

# The layer of a path under src/: its longest folder prefix that is a layer.
layer_of() {
    local dir
    dir="$(dirname "$1")"
    while [ -n "$dir" ] && [ "$dir" != . ] && [ -z "${rank[$dir]:-}" ]; do dir="$(dirname "$dir")"; done
    echo "$dir"
}

status=0
edges="$(mktemp)"
trap 'rm -f "$edges"' EXIT
while IFS= read -r file; do
    from="${file#src/}"
    from_layer="$(layer_of "$from")"
    if [ -z "${rank[$from_layer]:-}" ]; then
        echo "$file: folder src/$(dirname "$from") is no layer" >&2
        status=1
        continue
    fi
    while IFS= read -r target; do
        [ -e "src/$target" ] || [ -e "src/$target.in" ] || continue
        to_layer="$(layer_of "$target")"
        echo "$from $target" >>"$edges"
        [ "$to_layer" = "$from_layer" ] && continue
        if [ "${rank[$to_layer]}" -ge "${rank[$from_layer]}" ]; then
            echo "$file includes $target: layer $to_layer is not below $from_layer" >&2
            status=1
        fi
    done < <(sed -n 's/^#include "\(.*\)"/\1/p' "$file")
done < <(git ls-files 'src/*.cpp' 'src/*.h')

# A circle of includes between files (tsort reports loops on standard error).
if ! tsort "$edges" >/dev/null 2>"$edges.loops" || [ -s "$edges.loops" ]; then
    echo "includes go round in a circle:" >&2
    cat "$edges.loops" >&2
    status=1
fi
rm -f "$edges.loops"
[ "$status" = 0 ] && echo "layers: every include goes downward, no circle"
exit "$status"
