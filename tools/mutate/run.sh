#!/usr/bin/env bash
# Mutation run: each fault of the list is applied alone to a scratch copy of the tree
# (build/mutate/tree), built, and run against the core suite, then, when that passes, the
# command-line suite. A fault that a suite catches (a failure, a crash, a run past the timeout) is
# caught; one that passes both survives. Prints each fault's result, the survivors and the share
# caught (of the faults not judged harmless). The working tree is never edited. The scratch tree
# builds with the debug preset, so the shared compiler cache serves every file but the mutated one.
#
#   tools/mutate/run.sh [-l LIST] [-c] [N ...]
#     -l LIST  another fault list; -c  only check that every snippet still occurs exactly once;
#     N ...    only the faults on these lines of the list
#
# A line of LIST: `file | original snippet | replacement | the fault it stands for`, optionally
# followed by `| harmless: why` for a survivor judged equivalent (still run, not counted). The
# snippet must occur exactly once in the file and the mutant must build (warnings are errors),
# else the line is reported as an error of the list. In snippet and replacement `\n` stands for a
# line break and `\|` for a `|`. Blank lines and `#` lines are skipped.
set -uo pipefail

root="$(git -C "$(dirname "$0")" rev-parse --show-toplevel)"
list="$root/tools/mutate/faults.txt"
check=0
while [ $# -gt 0 ]; do
    case "$1" in
        -l) list="$(realpath "$2")"; shift 2 ;;
        -c) check=1; shift ;;
        *) break ;;
    esac
done
only=" $* "
work="$root/build/mutate"
src="$work/tree"
bld="$src/build/debug"
core_timeout="${MUTATE_CORE_TIMEOUT:-90}"
cli_timeout="${MUTATE_CLI_TIMEOUT:-180}"

# Copies into the scratch tree each file of the working tree (tracked or new) that differs there.
sync_tree() {
    (cd "$root" && git ls-files -z --cached --others --exclude-standard) |
        while IFS= read -r -d "" f; do
            [ -f "$root/$f" ] || continue
            cmp -s "$root/$f" "$src/$f" ||
                { mkdir -p "$(dirname "$src/$f")" && cp "$root/$f" "$src/$f"; }
        done
}
mkdir -p "$work"
# One run at a time: the scratch tree holds one mutant.
exec 9>"$work/lock"
flock -n 9 || { echo "another mutation run is using $work"; exit 2; }
sync_tree

if [ "$check" = 0 ] && [ ! -f "$bld/build.ninja" ]; then
    (cd "$src" && nice cmake --preset debug >"$work/configure.log" 2>&1) ||
        { echo "configure failed: $work/configure.log"; exit 2; }
fi

build() { nice ninja -C "$bld" -j2 "$@" >"$work/build.log" 2>&1; }
core_suite() {
    (cd "$bld" && nice timeout -k 5 "$core_timeout" ./core_tests --gtest_fail_fast \
        >"$work/core.log" 2>&1)
}
cli_suite() {
    (cd "$bld" && nice timeout -k 5 "$cli_timeout" ./cli_tests --gtest_fail_fast \
        >"$work/cli.log" 2>&1)
}

if [ "$check" = 0 ]; then
    echo "baseline: building and running the suites on the unchanged tree"
    build core_tests cli_tests || { echo "baseline build failed: $work/build.log"; exit 2; }
    core_suite || { echo "baseline core suite fails: $work/core.log"; exit 2; }
    cli_suite || { echo "baseline cli suite fails: $work/cli.log"; exit 2; }
fi

# Replaces the one occurrence of $2 in file $1 by $3; fails unless $2 occurs exactly once.
mutate() {
    local file="$1" from="$2" to="$3" text rest
    text="$(cat "$file"; printf x)"
    text="${text%x}"
    rest="${text#*"$from"}"
    [ "$rest" != "$text" ] || return 1
    [ "${rest#*"$from"}" = "$rest" ] || return 1
    printf '%s' "${text%%"$from"*}$to$rest" >"$file"
}

caught=0 survived=0 harmless=0 errors=0 n=0
survivors=() judged=() bad=()
while IFS= read -r line || [ -n "$line" ]; do
    n=$((n + 1))
    case "$line" in '' | '#'*) continue ;; esac
    [ "$only" = "  " ] || [[ "$only" == *" $n "* ]] || continue
    line="${line//\\|/$'\x01'}"
    file="${line%% | *}"
    rest="${line#* | }"
    from="${rest%% | *}"
    rest="${rest#* | }"
    to="${rest%% | *}"
    rest="${rest#* | }"
    what="${rest%% | *}"
    note=""
    [ "$what" = "$rest" ] || note="${rest#* | }"
    from="${from//\\n/$'\n'}"
    to="${to//\\n/$'\n'}"
    from="${from//$'\x01'/|}"
    to="${to//$'\x01'/|}"
    what="${what//$'\x01'/|}"
    if [ ! -f "$src/$file" ] || ! mutate "$src/$file" "$from" "$to"; then
        errors=$((errors + 1))
        bad+=("line $n: $file: snippet not found exactly once")
        printf '%4d  LIST ERROR  %s: snippet not found exactly once\n' "$n" "$file"
        continue
    fi
    if [ "$check" = 1 ]; then
        cp "$root/$file" "$src/$file"
        continue
    fi
    if ! build core_tests; then
        result="BUILD ERROR"
    elif ! core_suite; then
        result="caught (core)"
    elif ! build cli_tests; then
        result="BUILD ERROR"
    elif ! cli_suite; then
        result="caught (cli)"
    else
        result="SURVIVED"
    fi
    cp "$root/$file" "$src/$file"
    if [ "$result" = "BUILD ERROR" ]; then
        errors=$((errors + 1))
        bad+=("line $n: $file: the mutant does not build")
        cp "$work/build.log" "$work/build-error-$n.log"
    elif [ "$result" != SURVIVED ]; then
        caught=$((caught + 1))
    elif [[ "$note" == harmless:* ]]; then
        harmless=$((harmless + 1))
        result="survived, judged harmless"
        judged+=("line $n: $file: $what -- ${note#harmless: }")
    else
        survived=$((survived + 1))
        survivors+=("line $n: $file: $what")
    fi
    printf '%4d  %-26s %s: %s\n' "$n" "$result" "$file" "$what"
done <"$list"

# The scratch tree back as the working tree has it.
sync_tree

echo
[ ${#survivors[@]} -eq 0 ] || { echo "survivors:"; printf '  %s\n' "${survivors[@]}"; }
[ ${#judged[@]} -eq 0 ] || { echo "judged harmless:"; printf '  %s\n' "${judged[@]}"; }
[ ${#bad[@]} -eq 0 ] || { echo "errors of the list:"; printf '  %s\n' "${bad[@]}"; }
counted=$((caught + survived))
echo "faults: $((counted + harmless)) run ($harmless judged harmless), $errors list errors"
if [ "$counted" -gt 0 ]; then
    echo "caught: $caught of $counted ($((100 * caught / counted)) %)"
fi
[ "$survived" -eq 0 ] && [ "$errors" -eq 0 ]
