#!/bin/bash
# Runs a Windows program in the test bed set up by fixture.sh:
#   run.sh <state dir> <program.exe> [arguments...]
# Wine may leave helper processes behind that inherit the output handles; the
# output goes through a file so that none of them holds CTest's pipe open.
set -uo pipefail
state=${1:?usage: run.sh <state dir> <program.exe> [arguments...]}
shift
[ -f "$state/env" ] || { echo "run.sh: no test bed in $state (fixture setup failed?)" >&2; exit 1; }
. "$state/env"
out=$(mktemp)
trap 'rm -f "$out"' EXIT
env LANG="$WINE_LANG" wine "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
exit $rc
