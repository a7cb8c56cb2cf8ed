# End-to-end cases of the sample kit with Wine's own msiexec: the package's
# side of the contract, run without the bootstrap (event_gate.exe plays the
# bootstrap's part of the cabinet event). Each case leaves the prefix as it
# found it: what it installed is uninstalled, the staging folders removed.

KIT_CODE='{9E4B2C71-3A58-4D06-B1F7-6C2D8E0A4217}'
RUNTIME_CODE='{3C1E8A52-7D04-4B6F-8E21-9A5B0C4D4217}'
SAMPLE_PAYLOAD="$WIN_BUILD/../sample-payload"
SAMPLE_RUNTIME="$WIN_BUILD/../sample-payload.work/files/hux.msi"
SAMPLE_HOME="$DRIVE_C/Program Files/Tovimark/Orva Development Kit 4.2.0_17"
RUNTIME_HOME="$DRIVE_C/Program Files/Tovimark/Orva Runtime 4.2.0_17"
KIT_KEY='HKLM\SOFTWARE\Tovimark\Orva Development Kit\4.2.0_17'
RUNTIME_KEY='HKLM\SOFTWARE\Tovimark\Orva Runtime\4.2.0_17'
SAMPLE_VENDOR_KEY='HKLM\SOFTWARE\Tovimark'
STAGING_ROOT="$DRIVE_C/users/$WINE_USER/AppData/LocalLow/Qel"
SYSTEM_MSIEXEC='C:\windows\system32\msiexec.exe'
SAMPLE_HOME_FILES=(hux.msi hux1041.MST hux2052.MST orvadb.msi)

# reg_value <key> <name>: the value's data, or nothing when it is absent.
reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}

# run_engine <hold ms> <msiexec arguments>: runs Wine's msiexec through
# event_gate.exe, which holds the cabinet event unset for up to <hold ms>;
# sets GATE (what the gate saw) and EXIT.
# A start that fails under a heavily loaded machine is tried again.
run_engine() {
    local out attempt
    for attempt in 1 2 3; do
        out=$(GATE_COMMAND="\"$SYSTEM_MSIEXEC\" $2" wine "$WIN_BUILD/event_gate.exe" "$1" \
            </dev/null 2>/dev/null | tr -d '\r')
        grep -q '^gate: the command did not start' <<<"$out" || break
    done
    GATE=$(sed -n 's/^gate: //p' <<<"$out")
    EXIT=$(sed -n 's/^exit: \([0-9]*\) .*/\1/p' <<<"$out")
    [ -n "$EXIT" ] || { fail "event_gate reported no exit code"; echo "$out"; }
}

# Stages the sample payload into the kit folder, as the bootstrap does.
stage_sample() {
    undo_later kit_reset
    rm -rf "$KIT_DIR"
    mkdir -p "$KIT_DIR"
    cp "$SAMPLE_PAYLOAD"/* "$KIT_DIR/"
}

# Uninstalls the kit and the runtime, removes the vendor key (with what the
# runtime left in it) and the staging folders; also when the case ends,
# however it ends.
kit_reset() {
    undo_later kit_reset
    run_engine 120000 "/x $KIT_CODE /qn"
    run_engine 120000 "/x $RUNTIME_CODE /qn"
    wine reg delete "$SAMPLE_VENDOR_KEY" /f >/dev/null 2>&1
    rm -rf "$STAGING_ROOT"
}

expect_file() { [ -f "$1" ] || fail "missing: ${1#"$DRIVE_C"/}"; }
expect_no_file() { [ ! -e "$1" ] || fail "present: ${1#"$DRIVE_C"/}"; }

# The wait: only with WRAPPER=1, not with basic UI, not when installed; in
# the execute sequence for /qn and in the user-interface sequence for full UI.
case_kit_waits_for_the_cabinet_event_only_when_asked() {
    local hold expected tail
    while IFS='|' read -r hold expected tail; do
        stage_sample
        run_engine "$hold" "/i \"$WIN_PACKAGE\"$tail"
        expect_eq "gate for [$tail]" "$expected" "$GATE"
        expect_eq "exit code for [$tail]" 0 "$EXIT"
        kit_reset
    done <<'CASES'
4000|running at the event| /qn WRAPPER=1
4000|running at the event| WRAPPER=1
120000|finished before the event| /qn
120000|finished before the event|
120000|finished before the event| /qb WRAPPER=1
CASES
    stage_sample
    run_engine 120000 "/i \"$WIN_PACKAGE\" /qn"
    run_engine 120000 "/i \"$WIN_PACKAGE\" /qn WRAPPER=1"
    expect_eq "gate when installed" "finished before the event" "$GATE"
    expect_eq "exit code when installed" 0 "$EXIT"
    undo_now kit_reset
}

# A silent run installs the files of every cabinet and leaves the runtime
# package, its transforms (not the database placeholder) in the kit home.
case_kit_silent_install_leaves_the_runtime_for_the_bootstrap() {
    local file
    stage_sample
    run_engine 120000 "/i \"$WIN_PACKAGE\" /qn"
    expect_eq "exit code" 0 "$EXIT"
    for file in demo/demo-basic.zip demo/demo-advanced.zip src.zip tools.zip hux.msi hux1041.MST hux2052.MST \
        bin/unpack.exe NOTICE.txt bin/orvareg.dll; do
        expect_file "$SAMPLE_HOME/$file"
    done
    expect_no_file "$SAMPLE_HOME/orvadb.msi"
    expect_eq "OrvaHome" 'C:\Program Files\Tovimark\Orva Development Kit 4.2.0_17\' "$(reg_value "$KIT_KEY" OrvaHome)"
    expect_eq "runtime registered" "" "$(reg_value "$RUNTIME_KEY" RuntimeHome)"
    kit_reset
    expect_eq "OrvaHome after uninstall" "" "$(reg_value "$KIT_KEY" OrvaHome)"

    # With this version of the runtime registered, the kit does not ship it.
    undo_later rm -f "$DRIVE_C/hux.msi"
    cp "$SAMPLE_RUNTIME" "$DRIVE_C/hux.msi"
    run_engine 120000 '/i C:\hux.msi /qn'
    rm -f "$DRIVE_C/hux.msi"
    stage_sample
    run_engine 120000 "/i \"$WIN_PACKAGE\" /qn"
    expect_eq "exit code with the runtime registered" 0 "$EXIT"
    for file in "${SAMPLE_HOME_FILES[@]}"; do expect_no_file "$SAMPLE_HOME/$file"; done
    expect_file "$SAMPLE_HOME/NOTICE.txt"
    undo_now kit_reset
}

# A full-UI run installs the runtime itself, with the transform that the
# kit's own transform chose, and clears the kit home; the embedded transforms
# show in KitLanguage, the runtime's external ones in RuntimeLanguage.
case_kit_full_ui_installs_the_runtime_in_the_chosen_language() {
    local language tail file
    for language in 1033 1041 2052; do
        tail=""
        [ "$language" = 1033 ] || tail=" TRANSFORMS=:$language"
        stage_sample
        run_engine 120000 "/i \"$WIN_PACKAGE\"$tail"
        expect_eq "exit code for $language" 0 "$EXIT"
        expect_eq "KitLanguage for $language" "$language" "$(reg_value "$KIT_KEY" KitLanguage)"
        expect_eq "RuntimeLanguage for $language" "$language" "$(reg_value "$RUNTIME_KEY" RuntimeLanguage)"
        expect_file "$RUNTIME_HOME/runtime.txt"
        for file in "${SAMPLE_HOME_FILES[@]}"; do expect_no_file "$SAMPLE_HOME/$file"; done
        expect_file "$SAMPLE_HOME/NOTICE.txt"
        kit_reset
    done
}

# regedit takes the last byte of REG_SZ data for its terminator, so data
# stored without a NUL is exported one letter short.
exported_install_status() {
    wine regedit /E 'C:\status.reg' 'HKEY_LOCAL_MACHINE\Software\Tovimark' >/dev/null 2>&1
    iconv -f UTF-16 -t UTF-8 "$DRIVE_C/status.reg" 2>/dev/null | tr -d '\r' | grep '^"InstallStatus"='
    rm -f "$DRIVE_C/status.reg"
}

# The runtime, finding its product present outside a silent install, leaves
# the answer from HUXANSWER in InstallStatus; a silent install leaves none.
case_kit_runtime_records_the_reinstall_answer() {
    local answer expected
    undo_later rm -f "$DRIVE_C/hux.msi"
    cp "$SAMPLE_RUNTIME" "$DRIVE_C/hux.msi"
    run_engine 120000 '/i C:\hux.msi /qn'
    expect_eq "runtime install" 0 "$EXIT"
    expect_eq "InstallStatus after the first install" "" "$(reg_value "$SAMPLE_VENDOR_KEY" InstallStatus)"
    while IFS='|' read -r answer expected; do
        wine reg delete "$SAMPLE_VENDOR_KEY" /v InstallStatus /f >/dev/null 2>&1
        run_engine 120000 "/i C:\\hux.msi /qn$answer"
        expect_eq "exit code for [$answer]" 0 "$EXIT"
        expect_eq "InstallStatus for [$answer]" "$expected" "$(reg_value "$SAMPLE_VENDOR_KEY" InstallStatus)"
        [ -z "$expected" ] || expect_eq "InstallStatus as regedit exports it, for [$answer]" \
            "\"InstallStatus\"=\"${expected%?}\"" "$(exported_install_status)"
    done <<'CASES'
 HUXANSWER=reinstall|reinstall
 HUXANSWER=no|exists
|exists
 HUXANSWER=reinstall SDKSILENT=1|
CASES
    rm -f "$DRIVE_C/hux.msi"
    kit_reset
    expect_eq "InstallStatus after uninstall" "" "$(reg_value "$SAMPLE_VENDOR_KEY" InstallStatus)"
}

# On a full uninstall and on a cancelled setup the package empties the kit
# folder and removes it and the two folders above it when they are empty.
case_kit_uninstall_and_cancel_clean_the_staging_folder() {
    local tail
    stage_sample
    touch "$KIT_DIR/left-by-someone.txt"
    run_engine 120000 "/i \"$WIN_PACKAGE\" /qn"
    expect_eq "install" 0 "$EXIT"
    run_engine 120000 "/x \"$WIN_PACKAGE\" /qn"
    expect_eq "uninstall" 0 "$EXIT"
    [ ! -e "$STAGING_ROOT" ] || fail "uninstall left $(find "$STAGING_ROOT" | head -n 3 | tr '\n' ' ')"

    for tail in " /qn ORVA_SIMULATE_CANCEL=1" " ORVA_SIMULATE_CANCEL=1"; do
        stage_sample
        run_engine 120000 "/i \"$WIN_PACKAGE\"$tail"
        expect_eq "exit code for [$tail]" 1602 "$EXIT"
        [ ! -e "$STAGING_ROOT" ] || fail "cancel [$tail] left $(find "$STAGING_ROOT" | head -n 3 | tr '\n' ' ')"
        expect_eq "OrvaHome after cancel" "" "$(reg_value "$KIT_KEY" OrvaHome)"
    done

    # A folder of someone else under Qel keeps Qel in place.
    stage_sample
    mkdir -p "$STAGING_ROOT/Other"
    run_engine 120000 "/i \"$WIN_PACKAGE\" /qn"
    run_engine 120000 "/x \"$WIN_PACKAGE\" /qn"
    [ -d "$STAGING_ROOT/Other" ] || fail "a folder that is not the kit's went"
    [ ! -e "$STAGING_ROOT/Orva" ] || fail "the Orva folder stayed"
    undo_now kit_reset
}

# A cabinet missing beside the package: the engine fails with 1603 and rolls
# back; the header-only cabinet is never opened.
case_kit_missing_cabinet_fails_the_install() {
    stage_sample
    rm "$KIT_DIR/sz420170.cab"
    run_engine 120000 "/i \"$WIN_PACKAGE\" /qn"
    expect_eq "exit code without sz420170.cab" 1603 "$EXIT"
    expect_eq "OrvaHome after the failure" "" "$(reg_value "$KIT_KEY" OrvaHome)"
    expect_no_file "$SAMPLE_HOME/NOTICE.txt"
    undo_now kit_reset
}

# ---- through the bootstrap: the installer stages the kit, sets the cabinet
# event and runs the follow-ups; Wine's msiexec does the installs behind the
# recording stand-in.

SAMPLE_HOME_WIN='C:\Program Files\Tovimark\Orva Development Kit 4.2.0_17\'
LARGE_PAYLOAD="$WIN_BUILD/../sample-payload-large"

run_real() { # <exe> <command tail> [VAR=value ...]
    local exe=$1 tail=$2
    shift 2
    run_installer "$exe" "$tail" FAKE_MSIEXEC_PASSTHROUGH=1 "$@"
}

# The follow-up command for the runtime, after the package path.
follow_up_command() { # <transform part>
    printf '"%s" /i "%s\\hux.msi"%s /qn ADDLOCAL=ALL SDKSILENT=1' "$WIN_ENGINE" "$SAMPLE_HOME_WIN" "$1"
}

expect_kit_installed() { # <what>: a file of every cabinet that holds files
    local file
    for file in demo/demo-basic.zip src.zip tools.zip bin/unpack.exe NOTICE.txt bin/orvareg.dll; do
        expect_file "$SAMPLE_HOME/$file"
    done
    expect_eq "OrvaHome ($1)" "$SAMPLE_HOME_WIN" "$(reg_value "$KIT_KEY" OrvaHome)"
    # sj420170.cab: the runtime package, installed and then deleted.
    expect_file "$RUNTIME_HOME/runtime.txt"
    expect_eq "runtime registered ($1)" 'C:\Program Files\Tovimark\Orva Runtime 4.2.0_17\' \
        "$(reg_value "$RUNTIME_KEY" RuntimeHome)"
    for file in "${SAMPLE_HOME_FILES[@]}"; do expect_no_file "$SAMPLE_HOME/$file"; done
}

expect_staged() { # <payload dir>: the package and the eight cabinets stay in place
    local file
    for file in "$1"/*; do
        cmp -s "$file" "$KIT_DIR/$(basename "$file")" || fail "staged $(basename "$file") differs or is missing"
    done
}

case_bootstrap_full_ui_run_lets_the_package_install_the_runtime() {
    kit_reset
    run_real "$PRODUCT" ""
    expect_eq "exit code" 0 "$EXIT"
    expect_eq "engine commands" "$(engine_command '  WRAPPER=1')" "$CALL"
    expect_kit_installed "full UI"
    expect_staged "$SAMPLE_PAYLOAD"
    undo_now kit_reset
}

case_bootstrap_language_picks_both_transforms() {
    local locale language
    while IFS='|' read -r locale language; do
        kit_reset
        run_real "$PRODUCT" "/s" LANG="$locale"
        expect_eq "exit code under $locale" 0 "$EXIT"
        expect_eq "engine commands under $locale" "$(engine_command " TRANSFORMS=:$language  /qn WRAPPER=1")
$(follow_up_command " TRANSFORMS=\"$SAMPLE_HOME_WIN\\hux$language.MST\"")" "$CALL"
        expect_eq "KitLanguage under $locale" "$language" "$(reg_value "$KIT_KEY" KitLanguage)"
        expect_eq "RuntimeLanguage under $locale" "$language" "$(reg_value "$RUNTIME_KEY" RuntimeLanguage)"
        expect_kit_installed "$locale"
    done <<'CASES'
ja_JP.UTF-8|1041
zh_CN.UTF-8|2052
CASES
    undo_now kit_reset
}

case_bootstrap_large_kit_installs_silently() {
    kit_reset
    run_real "$WIN_BUILD/pmx-large.exe" "/s"
    expect_eq "exit code" 0 "$EXIT"
    expect_kit_installed "large"
    cmp -s "$SAMPLE_HOME/src.zip" "$LARGE_PAYLOAD.work/files/src.zip" || fail "the large source archive differs"
    expect_staged "$LARGE_PAYLOAD"
    undo_now kit_reset
}
