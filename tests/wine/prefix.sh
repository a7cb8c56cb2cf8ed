# The one way this project makes a Wine prefix, sourced by the test bed
# (tests/wine/fixture.sh), the demo (tools/demo.sh) and the bench
# (bench/bench.sh). A prefix lives only for one run: it is made, served by
# one persistent wineserver, and stopped with `wineserver -k` under the same
# WINEPREFIX at the end.
#   prefix_environment <dir>   exports WINEPREFIX=<dir> and the settings every
#                              Wine process of a run needs
#   prefix_boot                makes the prefix and waits until it is written
#   prefix_serve               starts the run's persistent wineserver
#   prefix_unattended          the settings for runs nobody watches (after
#                              prefix_serve)
#   prefix_stop                stops the server (nothing when no prefix is set)
#   prefix_processes           the ids of the prefix's processes still running
#   prefix_engine <folder> <msiexec.exe>
#                              the engine the product finds through
#                              InstallerLocation: C:\<folder>\msiexec.exe
#   prefix_import <lines>      imports the lines of a .reg file (after the
#                              REGEDIT4 line) with one `wine reg import`
#   prefix_unattended_settings, prefix_engine_settings <folder>
#                              the lines the two above import, for a script
#                              that imports several settings at once
#   prefix_engine_copy <folder> <msiexec.exe>
#                              the copy prefix_engine makes
#   prefix_user                the name of the prefix's user
#   prefix_throwaway <name>    for a script that owns its prefix: the
#                              environment of a fresh /tmp/<name>.XXXXXX,
#                              stopped and removed when the script ends (also
#                              on INT and TERM); PREFIX_KEEP=1 keeps the
#                              folder and prints where it is
#   prefix_start               prefix_boot, prefix_serve, prefix_unattended,
#                              quietly

prefix_environment() { # <dir>
    export WINEPREFIX=$1
    export WINEDEBUG=-all
    # No .NET or HTML engine: wineboot would ask to download them.
    export WINEDLLOVERRIDES='mscoree,mshtml='
}

# wineboot returns once the prefix is made, while the services it started
# keep the server up a few seconds more before they time out. The server is
# ended at once with its default signal, which ends those services with it
# and keeps the registry as -w would (the same keys); -w then waits until it
# has ended. SIGTERM (-k15) would leave the services running without a
# server, for as long as the machine runs, and its registry lacked keys.
prefix_boot() {
    wine wineboot -i </dev/null || return 1
    wineserver -k </dev/null
    wineserver -w </dev/null
}

prefix_serve() {
    wineserver -p </dev/null
}

# With the server running (a Wine process started before it would keep its
# own server alive, and `wineserver -p` would find it there).
prefix_unattended() {
    prefix_import "$(prefix_unattended_settings)"
}

prefix_unattended_settings() {
    # A program that crashes ends at once instead of waiting on Wine's crash
    # dialog, which nobody closes.
    printf '%s\n' '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' '"ShowCrashDialog"=dword:00000000' ''
}

# Each `wine reg add` is a Wine process start; one import sets them all.
# Only plain strings and dwords: Wine does not import every value type
# faithfully (hex(1): strings, for one). reg import skips a line it cannot
# read and still exits 0, so these lines are fixed text, never input.
prefix_import() { # <lines>
    local file="$WINEPREFIX/settings.reg"
    printf 'REGEDIT4\n\n%s\n' "$1" >"$file" &&
        wine reg import "Z:${file//\//\\}" </dev/null
}

prefix_stop() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    wineserver -k </dev/null >/dev/null 2>&1 || true
}

# The ids of the processes of this prefix still running, one a line: every
# Wine process carries its prefix in its environment. After prefix_stop
# there should be none; one that outlived its server (a service left by a
# boot whose server was ended without it) would run as long as the machine.
prefix_processes() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    local pid
    for pid in $(pgrep -u "$(id -u)" .); do
        { tr '\0' '\n' </proc/"$pid"/environ; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
    done
}

prefix_engine() { # <folder under C:\> <msiexec.exe>
    prefix_engine_copy "$1" "$2" && prefix_import "$(prefix_engine_settings "$1")"
}

prefix_engine_copy() { # <folder under C:\> <msiexec.exe>
    mkdir -p "$WINEPREFIX/drive_c/$1" && cp "$2" "$WINEPREFIX/drive_c/$1/msiexec.exe"
}

prefix_engine_settings() { # <folder under C:\>
    printf '%s\n' '[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer]' \
        "\"InstallerLocation\"=\"C:\\\\$1\"" ''
}

prefix_user() {
    ls "$WINEPREFIX/drive_c/users" | grep -vx Public | head -n 1
}

prefix_finish() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    prefix_stop
    if [ "${PREFIX_KEEP:-0}" = 1 ]; then
        echo "prefix kept: $WINEPREFIX"
    else
        rm -rf "$WINEPREFIX"
    fi
}

prefix_throwaway() { # <name>
    local dir
    dir=$(mktemp -d "/tmp/$1.XXXXXX") || return 1
    prefix_environment "$dir"
    trap prefix_finish EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM # through the EXIT trap, so that the server is stopped
}

prefix_start() {
    prefix_boot >/dev/null 2>&1 && prefix_serve >/dev/null 2>&1 && prefix_unattended >/dev/null 2>&1
}
