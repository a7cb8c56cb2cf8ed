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
INSTALLER_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer'

failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
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
    rm -f "$CALLS"
    out=$(env LANG="$WINE_LANG" "$@" RUNNER_TAIL="$tail" wine "$WIN_BUILD/runner.exe" "$(winepath -w "$exe")" \
        </dev/null 2>/dev/null | tr -d '\r')
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

hex() { printf '0x%08X' "$1"; }
