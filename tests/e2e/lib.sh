# Helpers of the end-to-end tests: run the built installer under Wine through
# runner.exe and check what it did. Sourced by e2e.sh after the test bed's env.

PRODUCT="$WIN_BUILD/pmx4.2.0_17-windows-x64.exe"  # around the sample payload
EMPTY_PRODUCT="$WIN_BUILD/pmx-empty.exe"           # no payload at all
DRIVE_C="$WINEPREFIX/drive_c"
KIT_DIR="$DRIVE_C/users/$WINE_USER/AppData/LocalLow/Qel/Orva/pmx4.2.0_17_x64"
STAGED_PACKAGE="$KIT_DIR/pmx4.2.0_17.msi"
WIN_PACKAGE="C:\\users\\$WINE_USER\\AppData\\LocalLow\\Qel\\Orva\\pmx4.2.0_17_x64\\pmx4.2.0_17.msi"
WIN_ENGINE='C:\fakeengine\msiexec.exe'
CALLS="$DRIVE_C/fakeengine/calls.txt"
REPORT="$DRIVE_C/fakeengine/report.txt"  # what the stand-in saw as the package
CABS_PRODUCT="$WIN_BUILD/pmx-cabs.exe"   # around eight cabinets of several MB
NO7_PRODUCT="$WIN_BUILD/pmx-no7.exe"     # the same without the seventh
CABINET_PAYLOADS="$WIN_BUILD/../cabinet-payloads"
CABINETS="sd420170.cab ss420170.cab st420170.cab sj420170.cab sp420170.cab sz420170.cab sb420170.cab sr420170.cab"
INSTALLER_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer'

failures=0

# WINE_STDERR (a file e2e.sh makes) keeps what Wine wrote to stderr during
# the last run_installer: with WINEDEBUG=-all only real trouble shows there
# (a program that would not start, a crash), and every failure shows it.

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
    if [ -s "$WINE_STDERR" ]; then
        echo "  wine's stderr in the last run:"
        sed 's/^/    /' "$WINE_STDERR"
    fi
}

expect_eq() { # <what> <expected> <actual>
    if [ "$2" != "$3" ]; then
        fail "$1"
        echo "  expected: [$2]"
        echo "  actual:   [$3]"
    fi
}

# run_installer <exe> <command tail> [VAR=value ...]: runs the installer with
# exactly that command tail; sets EXIT (decimal), BOXES (one line per box) and
# CALL (the engine command lines recorded, one per line).
run_installer() {
    local exe=$1 tail=$2 out
    shift 2
    rm -f "$CALLS" "$REPORT"
    out=$(env LANG="$WINE_LANG" "$@" RUNNER_TAIL="$tail" wine "$WIN_BUILD/runner.exe" "$(winepath -w "$exe")" \
        </dev/null 2>"$WINE_STDERR" | tr -d '\r')
    EXIT=$(sed -n 's/^exit: \([0-9]*\) .*/\1/p' <<<"$out")
    BOXES=$(sed -n 's/^box: //p' <<<"$out")
    CALL=$(cat "$CALLS" 2>/dev/null)
    if [ -z "$EXIT" ]; then
        fail "runner reported no exit code"
        echo "$out"
    fi
}

# The command the product composes for the stand-in engine, after the package.
engine_command() { # <rest after the quoted package path>
    printf '"%s" /i "%s"%s' "$WIN_ENGINE" "$WIN_PACKAGE" "$1"
}

remove_staged_cabinets() {
    local name
    for name in $CABINETS; do
        rm -rf "${KIT_DIR:?}/$name"
    done
}

# The stand-in may outlive the installer it was started by: waits (at most
# 60 s) for its report to end, then sets REPORT_TEXT.
wait_for_report() {
    local _
    for _ in $(seq 600); do
        grep -qx done "$REPORT" 2>/dev/null && break
        sleep 0.1
    done
    REPORT_TEXT=$(tr -d '\r' <"$REPORT" 2>/dev/null)
}

# The report expected when the event was set and every cabinet of
# <payload dir> is staged whole ("absent" for one the payload lacks).
whole_cabinets_report() { # <payload dir>
    local name
    echo "event: set"
    for name in $CABINETS; do
        if [ -e "$1/$name" ]; then echo "$name: ok"; else echo "$name: absent"; fi
    done
    echo "order: table"
    echo "done"
}
