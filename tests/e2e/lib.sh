# Helpers of the end-to-end tests: run the built installer under Wine through
# runner.exe and check what it did. Sourced by e2e.sh after the test bed's env.
# The names of the kit folder, the package and the installer come from the
# build profile (tools/profile.sh).

. "$here/../../tools/profile.sh"
profile_load || { echo "cannot read the build profile: $PROFILE_ERROR"; exit 1; }

PRODUCT="$WIN_BUILD/$PROFILE_INSTALLER_NAME.exe" # around the sample payload
DRIVE_C="$WINEPREFIX/drive_c"
STAGING_ROOT="$DRIVE_C/users/$WINE_USER/AppData/LocalLow/Qel"
KIT_DIR="$STAGING_ROOT/Orva/$PROFILE_KIT_FOLDER"
STAGED_PACKAGE="$KIT_DIR/$PROFILE_PACKAGE_FILE"
WIN_KIT_PARENT="C:\\users\\$WINE_USER\\AppData\\LocalLow\\Qel\\Orva"
WIN_PACKAGE="$WIN_KIT_PARENT\\$PROFILE_KIT_FOLDER\\$PROFILE_PACKAGE_FILE"
WIN_ENGINE='C:\fakeengine\msiexec.exe'
CALLS="$DRIVE_C/fakeengine/calls.txt"
VENDOR_KEY="HKLM\\SOFTWARE\\$PROFILE_VENDOR"

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
    rm -f "$CALLS"
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

# reg_value <key> <name>: the value's data, or nothing when it is absent.
reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

# Removes the vendor key (and the kit keys below it), also when the case
# ends, however it ends.
clear_installed_state() {
    undo_later clear_installed_state
    wine reg delete "$VENDOR_KEY" /f >/dev/null 2>&1
}
