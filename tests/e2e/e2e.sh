#!/bin/bash
# Runs one end-to-end case in the test bed: e2e.sh <state dir> <case name>
# The case runs in a child shell (in a process group of its own), so that
# this script can still put the shared prefix back when the case is cut
# short: on TERM or INT, and at the guard, E2E_GUARD_SECONDS (set by CMake
# below the test's TIMEOUT, since CTest ends a test at its TIMEOUT with
# SIGKILL, which no trap sees). The steps that put the prefix back are the
# ones the case registered (undo.sh).
set -uo pipefail
state=${1:?usage: e2e.sh <state dir> <case>}
name=${2:?case}
here=$(cd "$(dirname "$0")" && pwd)
. "$state/env" || exit 1
. "$here/undo.sh"
. "$here/lib.sh"
. "$here/cases.sh"
. "$here/version_cases.sh"
declare -F "case_$name" >/dev/null || { echo "no such case: $name" >&2; exit 2; }

out=$(mktemp)
UNDO_FILE=$(mktemp)
WINE_STDERR=$(mktemp)
case_pid=""
guard_pid=""

stop_case() {
    [ -n "$guard_pid" ] && kill -TERM -- "-$guard_pid" 2>/dev/null
    [ -n "$case_pid" ] && kill -TERM -- "-$case_pid" 2>/dev/null
    guard_pid=""
    case_pid=""
}

finish() {
    stop_case
    undo_now
    cat "$out"
    rm -f "$out" "$UNDO_FILE" "$WINE_STDERR"
}
trap finish EXIT
trap 'echo "stopped by INT" >>"$out"; exit 130' INT
trap 'echo "stopped by TERM" >>"$out"; exit 143' TERM
trap 'echo "FAIL: the case did not end within its guard of ${E2E_GUARD_SECONDS}s" >>"$out"; exit 124' USR1

# Through a file: Wine helpers must not hold CTest's pipe.
set -m # the case gets a process group of its own, ended as a whole
(
    trap - INT TERM USR1
    "case_$name"
    [ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
    echo "passed"
) </dev/null >"$out" 2>&1 &
case_pid=$!
if [ -n "${E2E_GUARD_SECONDS:-}" ]; then
    (sleep "$E2E_GUARD_SECONDS" && kill -USR1 $$) </dev/null >/dev/null 2>&1 &
    guard_pid=$!
fi
set +m
wait "$case_pid"
rc=$?
case_pid=""
exit $rc
