#!/bin/bash
# Runs a Windows program in the test bed set up by fixture.sh:
#   run.sh <state dir> <program.exe> [arguments...]
# Wine may leave helper processes behind that inherit the output handles; the
# output goes through a file so that none of them holds CTest's pipe open.
# Every way this ends other than the program's own success says so on
# stderr, so that no failure is without a word.
set -uo pipefail
state=${1:?usage: run.sh <state dir> <program.exe> [arguments...]}
shift
[ -f "$state/env" ] || { echo "run.sh: no test bed in $state (fixture setup failed?)" >&2; exit 1; }
. "$state/env" || { echo "run.sh: cannot read $state/env" >&2; exit 1; }
out=$(mktemp) || { echo "run.sh: no temporary file for the output" >&2; exit 1; }
trap 'rm -f "$out"' EXIT
env LANG="$WINE_LANG" wine "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
if [ "$rc" -ne 0 ]; then
    # The low 8 bits of the program's exit code, or 128 + a signal that
    # ended Wine itself.
    echo "run.sh: $(basename "$1") ended with status $rc" >&2
fi
exit $rc
