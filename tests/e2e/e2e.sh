#!/bin/bash
# Runs one end-to-end case in the test bed: e2e.sh <state dir> <case name>
set -uo pipefail
state=${1:?usage: e2e.sh <state dir> <case>}
name=${2:?case}
here=$(cd "$(dirname "$0")" && pwd)
. "$state/env" || exit 1
. "$here/lib.sh"
. "$here/cases.sh"
. "$here/kit_cases.sh"
. "$here/version_cases.sh"
declare -F "case_$name" >/dev/null || { echo "no such case: $name" >&2; exit 2; }

out=$(mktemp)
WINE_STDERR=$(mktemp)
trap 'rm -f "$out" "$WINE_STDERR"' EXIT
"case_$name" >"$out" 2>&1 # through a file: Wine helpers must not hold CTest's pipe
cat "$out"
[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "passed"
