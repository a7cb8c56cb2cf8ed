#!/bin/bash
# Runs the Windows test bundle as a user on Windows would, under Wine: the
# bundle copied into a fresh throwaway prefix, `cmd /c run-tests.cmd` from
# its folder, then the results file checked (no failure, every skip with its
# reason, the count line last) and every setting the run may change compared
# with what it was before. The cases and the Windows-level tests run test by
# test in CTest: here run-tests.cmd runs one case file, whose cases change
# the settings the driver must put back (the shell's folders, the staging
# chains, a drive), and no Windows-level test.
#   under_wine.sh <bundle folder> <state dir>
set -uo pipefail
# Every Wine process of the run, wineboot and reg included, sees the same
# display: the first one that needs a desktop makes it for the whole prefix,
# and a desktop made without a display shows no message box later.
if [ -z "${UNDER_WINE_DISPLAY:-}" ]; then
    UNDER_WINE_DISPLAY=1 exec xvfb-run -a "$0" "$@"
fi
bundle=${1:?usage: under_wine.sh <bundle folder> <state dir>}
state=${2:?state dir}
rm -rf "$state" && mkdir -p "$state" || exit 1
# The prefix made as every prefix of the project is (tests/wine/prefix.sh).
. "$(dirname "$0")/../wine/prefix.sh"
prefix_environment "$state/prefix"
unset LC_ALL LC_MESSAGES LANGUAGE
server_started=0
finish() {
    [ $server_started = 1 ] && wineserver -k >/dev/null 2>&1
    rm -rf "$state"
}
trap finish EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

prefix_boot >"$state/boot.log" 2>&1 || { cat "$state/boot.log"; exit 1; }
prefix_serve && server_started=1
prefix_unattended >/dev/null 2>&1

drive_c="$WINEPREFIX/drive_c"
user=$(ls "$drive_c/users" | grep -vx Public | head -n 1)
cp -r "$bundle" "$drive_c/windows-tests" || exit 1

. "$(dirname "$0")/../../tools/profile.sh"
profile_load || { echo "cannot read the build profile: $PROFILE_ERROR"; exit 1; }
case_file=user_folders.txt

# What the run may change, as reg and the file system show it.
settings() {
    local explorer='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer' local_low='{A520A1A4-1780-4FF6-BD18-167343C5AF16}'
    wine reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer' /v InstallerLocation 2>&1
    wine reg query "HKLM\SOFTWARE\$PROFILE_VENDOR" /s 2>&1
    wine reg query "$explorer\User Shell Folders" /v "$local_low" 2>&1
    wine reg query "$explorer\Shell Folders" /v "$local_low" 2>&1
    ls -d "$drive_c/Program Files/$PROFILE_VENDOR" "$drive_c/users/$user/AppData/LocalLow/Qel" \
        "$drive_c/users/$user/Qel" "$drive_c/windows/Qel" "$drive_c/users/$user/Temp/orva-driver" 2>&1
    ls "$drive_c/users" "$drive_c/users/$user/AppData" 2>&1
    ls "$drive_c/windows/system32" | grep -c orva-tests-saved
    find "$WINEPREFIX/dosdevices" -mindepth 1 -maxdepth 1 -printf '%f -> %l\n' | sort
    grep -c orva-small-disk /proc/mounts
}
settings | tr -d '\r' >"$state/before.txt"

started=$(date +%s)
(cd "$drive_c/windows-tests" && ORVA_TESTS_CASES=$case_file ORVA_TESTS_NO_GTEST=1 \
    wine cmd /c run-tests.cmd </dev/null >"$state/run.log" 2>&1)
code=$?
echo "the bundle ran in $(($(date +%s) - started)) s, exit code $code"
results="$drive_c/windows-tests/results.txt"
tr -d '\r' <"$results" 2>/dev/null >"$state/results.txt"
cat "$state/results.txt"

[ -s "$state/results.txt" ] || { fail "no results file"; cat "$state/run.log"; }
grep -q "^pass " "$state/results.txt" || fail "no case of $case_file passed"
grep '^fail ' "$state/results.txt" | sed 's/^/  /' | grep -q . && fail "failed cases (above)"
grep '^skip ' "$state/results.txt" | grep -v '^skip [^:]*: ..*' | grep -q . && fail "a skip without its reason"
grep -vE '^(pass|fail|skip) ' "$state/results.txt" | sed '$d' | grep -q . && fail "lines that are no result"
tail -n 1 "$state/results.txt" | grep -qE '^[0-9]+ passed, 0 failed, [0-9]+ skipped$' || fail "last line: $(tail -n 1 "$state/results.txt")"
[ "$code" = 0 ] || { fail "run-tests.cmd exited with $code"; tail -n 30 "$state/run.log"; }

settings | tr -d '\r' >"$state/after.txt"
diff "$state/before.txt" "$state/after.txt" >"$state/settings.diff" || { fail "settings not restored:"; cat "$state/settings.diff"; }

[ $failures = 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo passed
