#!/bin/bash
# The Wine test bed of one test run: a throwaway prefix with one persistent
# wineserver (made as prefix.sh makes every prefix), one Xvfb display and
# private locales, all under <state dir>.
#   fixture.sh setup <state dir> <windows build dir>
#   fixture.sh cleanup <state dir>
# setup writes <state dir>/env, which run.sh reads. cleanup stops only what
# setup started and removes the state dir; it is safe to run more than once.
set -uo pipefail
action=${1:?usage: fixture.sh setup|cleanup <state dir> [<windows build dir>]}
state=${2:?state dir}
. "$(dirname "$0")/prefix.sh"

# Stops the server, then any process of the prefix that outlived it (by its
# id: they are the run's own), and fails when there was one, so that a leak
# shows in wine.cleanup instead of piling up on the machine.
cleanup() {
    local left=""
    if [ -f "$state/env" ]; then
        (. "$state/env" && prefix_stop) >/dev/null 2>&1
        # The server's clients are killed as it ends; up to 3 s for the last
        # to go (a hang guard, not a timing).
        for _ in $(seq 30); do
            left=$(. "$state/env" && prefix_processes)
            [ -n "$left" ] || break
            sleep 0.1
        done
    fi
    if [ -n "$left" ]; then
        echo "fixture: processes of the prefix outlived its server:" >&2
        ps -o pid=,args= -p "$(paste -sd, <<<"$left")" >&2
        kill -9 $left 2>/dev/null
    fi
    if [ -f "$state/xvfb.pid" ]; then
        kill "$(cat "$state/xvfb.pid")" >/dev/null 2>&1
    fi
    rm -rf "$state"
    [ -z "$left" ]
}

# The locales the language tests run under, made into a private folder
# without touching the system's own locale setup. The prefix boots under
# en_US, which is made first; the others (a few seconds of localedef) are
# made while it boots.
locale_jobs=() # <process id>:<locale> of each localedef running
start_locales() { # <locale...>
    local locale
    mkdir -p "$state/locales"
    for locale in "$@"; do
        localedef -i "$locale" -f UTF-8 "$state/locales/$locale.UTF-8" </dev/null >/dev/null 2>&1 &
        locale_jobs+=("$!:$locale")
    done
}

finish_locales() { # waits for them all; says which failed
    local job failed=0
    for job in "${locale_jobs[@]}"; do
        wait "${job%%:*}" || { echo "fixture: localedef ${job#*:} failed" >&2; failed=1; }
    done
    locale_jobs=()
    return $failed
}

stop_locales() { # after a failed setup, before its folder is removed
    local job
    for job in "${locale_jobs[@]}"; do
        kill "${job%%:*}" 2>/dev/null
    done
    finish_locales 2>/dev/null
    return 0
}

start_xvfb() {
    : >"$state/display"
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$state/display" \
        </dev/null >"$state/xvfb.log" 2>&1 &
    echo $! >"$state/xvfb.pid"
    for _ in $(seq 200); do
        [ -s "$state/display" ] && return 0
        sleep 0.1
    done
    kill "$(cat "$state/xvfb.pid")" 2>/dev/null # a later try starts its own
    return 1
}

# Runs one step of the setup, with its output in setup.log; a step that
# fails is tried twice more, since a Wine start on a loaded machine can fail
# once. Says which step failed, with the end of the log.
try() { # <what> <command...>
    local what=$1 attempt
    shift
    for attempt in 1 2 3; do
        "$@" </dev/null >>"$state/setup.log" 2>&1 && return 0
        echo "fixture: $what failed (attempt $attempt)" >&2
        sleep 2
    done
    tail -n 20 "$state/setup.log" >&2
    return 1
}

boot_prefix() {
    # Wine takes the user's language from LANG; the tests choose it per run.
    LANG="$WINE_LANG" prefix_boot
}

# The settings of this test bed, as lines of a .reg file (prefix.sh imports
# them with the settings every unattended prefix gets, in one Wine process).
fixture_settings() {
    # The Windows tests run again under a second name that the prefix
    # reports as version 5.2, and under a third that it reports as 5.1.
    app_default windows_tests52.exe Version win2003
    app_default windows_tests51.exe Version winxp
    # A copy of the installer under this name runs as on 5.1 (the shell
    # lookup through shfolder).
    app_default pmx-reported-51.exe Version winxp
}

app_default() { # <program.exe[\subkey]> <value name> <string>
    printf '%s\n' "[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\$1]" "\"$2\"=\"$3\"" ''
}

setup() {
    local build=${3:?windows build dir}
    cleanup # a run that was killed may have left its state behind
    mkdir -p "$state"
    start_locales en_US
    finish_locales || return 1
    start_locales ja_JP zh_CN zh_TW de_DE
    prepare_prefix "$build" || { stop_locales; return 1; }
    finish_locales || return 1

    local user
    user=$(prefix_user)
    cat >>"$state/env" <<ENV
export WINE_USER='$user'
export WIN_BUILD='$build'
ENV
    echo "fixture: prefix $WINEPREFIX, display $DISPLAY, user $user"
}

prepare_prefix() { # <windows build dir>
    local build=$1
    try "starting Xvfb" start_xvfb || return 1
    prefix_environment "$state/prefix"
    cat >"$state/env" <<ENV
export WINEPREFIX='$WINEPREFIX'
export WINEDEBUG='$WINEDEBUG'
export WINEDLLOVERRIDES='$WINEDLLOVERRIDES'
export DISPLAY=':$(cat "$state/display")'
export LOCPATH='$state/locales'
export WINE_LANG=en_US.UTF-8
unset LC_ALL LC_MESSAGES LANGUAGE
ENV
    . "$state/env"
    try "making the prefix" boot_prefix || return 1
    try "starting the wineserver" prefix_serve || return 1

    # A recording stand-in for the engine, found through InstallerLocation.
    try "copying the engine" prefix_engine_copy fakeengine "$build/msiexec.exe" || return 1
    # No crash dialog, the programs' settings and InstallerLocation.
    try "the settings" prefix_import \
        "$(prefix_unattended_settings; fixture_settings; prefix_engine_settings fakeengine)" || return 1
}

case $action in
setup) setup "$@" || { echo "fixture: setup failed" >&2; cleanup; exit 1; } ;;
cleanup) cleanup || exit 1 ;;
*) echo "usage: fixture.sh setup|cleanup <state dir> [<windows build dir>]" >&2; exit 2 ;;
esac
