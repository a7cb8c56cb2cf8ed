# Every end-to-end case shares one prefix with the others. A case that
# changes it (a system DLL swapped, a registry value set or removed, a folder
# blocked or linked) registers the step that puts it back, before it makes
# the change; e2e.sh carries out what is still registered when the case ends,
# however it ends: passed, failed, stopped by TERM or INT, or past its guard.
# The steps live in a file ($UNDO_FILE, made by e2e.sh), since the case runs
# in a child shell that may be killed. A step is a command and its
# arguments, one field each; it is run as they are, never through eval.

UNDO_SEPARATOR=$'\x1f'
UNDOING=0

undo_step_line() { # <command> [<argument>...]: the step as one line of the file
    local IFS=$UNDO_SEPARATOR
    printf '%s\n' "$*"
}

# undo_later <command> [<argument>...]: run it when the case ends (once, even
# when registered again; nothing is registered while undoing).
undo_later() {
    [ "$UNDOING" = 0 ] || return 0
    local step
    step=$(undo_step_line "$@")
    grep -qxF -- "$step" "$UNDO_FILE" 2>/dev/null || printf '%s\n' "$step" >>"$UNDO_FILE"
}

# undo_now <command> [<argument>...]: carries out that step now, where the
# case puts the prefix back itself (registered or not), and forgets it.
# undo_now: every registered step, last first, quietly.
undo_now() {
    local steps=() step fields i
    if [ $# -gt 0 ]; then
        step=$(undo_step_line "$@")
        grep -vxF -- "$step" "$UNDO_FILE" >"$UNDO_FILE.rest"
        mv "$UNDO_FILE.rest" "$UNDO_FILE"
        UNDOING=1
        "$@"
        UNDOING=0
        return 0
    fi
    [ -s "$UNDO_FILE" ] || return 0
    mapfile -t steps <"$UNDO_FILE"
    : >"$UNDO_FILE"
    UNDOING=1
    for ((i = ${#steps[@]} - 1; i >= 0; i--)); do
        IFS=$UNDO_SEPARATOR read -r -a fields <<<"${steps[i]}"
        "${fields[@]}" </dev/null >/dev/null 2>&1
    done
    UNDOING=0
}

# Steps that put the prefix back, quietly.
delete_registry_value() { # <key> <value name>
    wine reg delete "$1" /v "$2" /f >/dev/null 2>&1
}
uninstall() { # <package path or product code>
    wine msiexec /x "$1" /qn >/dev/null 2>&1
}
