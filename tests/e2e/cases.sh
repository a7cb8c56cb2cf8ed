# End-to-end cases: each function is one CTest test (see cmake/WineTests.cmake).

case_plain_run_stages_the_package_and_runs_the_engine() {
    rm -f "$STAGED_PACKAGE"
    run_installer "$PRODUCT" ""
    expect_eq "exit code" 0 "$EXIT"
    expect_eq "engine command" "$(engine_command '  WRAPPER=1')" "$CALL"
    cmp -s "$STAGED_PACKAGE" "$WIN_BUILD/../sample-payload/pmx4.2.0_17.msi" ||
        fail "the staged package differs from the embedded one"
    expect_eq "boxes" "" "$BOXES"
}

# Values beyond the int range are up to the C run-time's atoi: Wine's msvcrt
# keeps the low 32 bits, so 0x100000411 selects 1041.
case_options_are_translated() {
    local tail expected
    while IFS='|' read -r tail expected; do
        run_installer "$PRODUCT" "$tail"
        expect_eq "exit code for [$tail]" 0 "$EXIT"
        expect_eq "command for [$tail]" "$(engine_command "$expected")" "$CALL"
    done <<'CASES'
/s|  /qn WRAPPER=1
/s /qn| /qn  WRAPPER=1
/qn /s| /qn  WRAPPER=1
/S| /S  WRAPPER=1
/v"/l*v log.txt"|  /l*v log.txt  WRAPPER=1
"/v\"/l*v log.txt\""|  /l*v log.txt  WRAPPER=1
"INSTALLDIR=C:\Program Files\x" ADDLOCAL=ALL| INSTALLDIR=C:\Program Files\x ADDLOCAL=ALL  WRAPPER=1
/INSTALLDIRPUBHUX=C:\pub /INSTALLDIRORVADB=C:\db|  WRAPPER=1
/lang=1041| TRANSFORMS=:1041  WRAPPER=1
/lang=2052 /s| TRANSFORMS=:2052  /qn WRAPPER=1
/lang=66577| TRANSFORMS=:1041  WRAPPER=1
/lang=1031|  WRAPPER=1
/lang=abc|  WRAPPER=1
/lang=4294968337| TRANSFORMS=:1041  WRAPPER=1
/lang=-64495| TRANSFORMS=:1041  WRAPPER=1
CASES
}

case_install_language_follows_the_user() {
    local locale expected
    while IFS='|' read -r locale expected; do
        run_installer "$PRODUCT" "" LANG="$locale"
        expect_eq "command under $locale" "$(engine_command "$expected")" "$CALL"
    done <<'CASES'
ja_JP.UTF-8| TRANSFORMS=:1041  WRAPPER=1
zh_CN.UTF-8| TRANSFORMS=:2052  WRAPPER=1
zh_TW.UTF-8|  WRAPPER=1
de_DE.UTF-8|  WRAPPER=1
CASES
    run_installer "$PRODUCT" "/lang=1033" LANG=ja_JP.UTF-8
    expect_eq "/lang=1033 under ja_JP" "$(engine_command '  WRAPPER=1')" "$CALL"
}

case_engine_exit_code_is_passed_on() {
    local code
    for code in 1 1602 1603 3010 65536 2147483648 4294967294 3221225477; do
        run_installer "$PRODUCT" "/s" FAKE_MSIEXEC_EXIT="$code"
        expect_eq "exit code $(hex "$code")" "$code" "$EXIT"
    done
}

case_absent_package_exits_1_without_engine() {
    rm -f "$STAGED_PACKAGE"
    run_installer "$EMPTY_PRODUCT" "/s"
    expect_eq "exit code" 1 "$EXIT"
    expect_eq "engine calls" "" "$CALL"
    [ ! -e "$STAGED_PACKAGE" ] || fail "a package file was written"
}

set_engine_location() {
    wine reg add "$INSTALLER_KEY" /v InstallerLocation /t REG_SZ /d "$1" /f >/dev/null 2>&1
}

case_missing_engine_location_exits_minus_3() {
    wine reg delete "$INSTALLER_KEY" /v InstallerLocation /f >/dev/null 2>&1
    run_installer "$PRODUCT" "/s"
    set_engine_location 'C:\fakeengine'
    expect_eq "exit code" "$((0xFFFFFFFD))" "$EXIT"
    expect_eq "engine calls" "" "$CALL"
}

case_engine_that_does_not_start_exits_1() {
    set_engine_location 'C:\no-engine-here'
    run_installer "$PRODUCT" "/s"
    set_engine_location 'C:\fakeengine'
    expect_eq "exit code" 1 "$EXIT"
    [ -e "$STAGED_PACKAGE" ] || fail "the package should be staged before the engine is run"
}

case_old_engine_is_refused_with_message_4() {
    local msi="$DRIVE_C/windows/system32/msi.dll"
    rm -f "$STAGED_PACKAGE"
    cp "$msi" "$msi.saved" && cp "$WIN_BUILD/msi-2.0.2599.65535.dll" "$msi"
    # Without the override Wine answers version queries on system32\msi.dll
    # from its built-in engine, whatever file lies there.
    run_installer "$PRODUCT" "/s" WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msi=n"
    expect_eq "exit code" "$((0xFFFFFFFE))" "$EXIT"
    expect_eq "box" " | Orva(TM) could not be installed because the Windows Installer 2.0 Engine is not installed on this system.  Please download and install Windows Installer 2.0 or higher from the Microsoft web site." "$BOXES"
    expect_eq "engine calls" "" "$CALL"
    [ ! -e "$STAGED_PACKAGE" ] || fail "the package was staged before the gate"

    # A Japanese user reads the message in Japanese; the caption stays empty.
    run_installer "$PRODUCT" "/s" WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msi=n" LANG=ja_JP.UTF-8
    expect_eq "exit code under ja_JP" "$((0xFFFFFFFE))" "$EXIT"
    expect_eq "box under ja_JP" " | Windows Installer 2.0 Engine がこのシステムにインストールされていないため、Orva(TM) をインストールできませんでした。Windows Installer 2.0 以上を Microsoft Web サイトからダウンロードし、インストールしてください。" "$BOXES"

    # Options that do not fit are refused before the gate is asked.
    run_installer "$PRODUCT" "$(printf 'P%.0s' $(seq 1100))" WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msi=n"
    expect_eq "exit code for overlong options" 1639 "$EXIT"
    expect_eq "boxes for overlong options" "" "$BOXES"
    mv "$msi.saved" "$msi"
}

case_engine_gate_fails_without_version_functions() {
    local version="$DRIVE_C/windows/system32/version.dll"
    cp "$version" "$version.saved" && cp "$WIN_BUILD/msi-2.0.2600.0.dll" "$version" # no exports
    run_installer "$PRODUCT" "/s" WINEDLLOVERRIDES="$WINEDLLOVERRIDES;version=n"
    mv "$version.saved" "$version"
    expect_eq "exit code" "$((0xFFFFFFFE))" "$EXIT"
    expect_eq "engine calls" "" "$CALL"
}

case_failed_staged_write_shows_error_and_exits_with_the_code() {
    rm -f "$STAGED_PACKAGE"
    mkdir -p "$STAGED_PACKAGE" # a folder where the package file goes
    run_installer "$PRODUCT" "/s"
    rmdir "$STAGED_PACKAGE"
    expect_eq "exit code" 5 "$EXIT"
    case $BOXES in
    "Error | Installer : Wrapper.CreateFile  failed with error 5: "?*) ;;
    *) fail "error box: [$BOXES]" ;;
    esac
    expect_eq "engine calls" "" "$CALL"
}

case_overlong_options_exit_1639() {
    local long
    long=$(printf 'P%.0s' $(seq 1100))
    rm -f "$STAGED_PACKAGE"
    run_installer "$PRODUCT" "$long"
    expect_eq "exit code (property string)" 1639 "$EXIT"
    [ ! -e "$STAGED_PACKAGE" ] || fail "staged although the options were refused"
    run_installer "$PRODUCT" "/INSTALLDIRPUBHUX=C:\\$long"
    expect_eq "exit code (folder value)" 1639 "$EXIT"

    # Fits the property string, not the command: refused after staging.
    long=$(printf 'P%.0s' $(seq 1000))
    run_installer "$PRODUCT" "$long"
    expect_eq "exit code (command)" 1639 "$EXIT"
    [ -e "$STAGED_PACKAGE" ] || fail "the package should be staged before the command is composed"
    expect_eq "engine calls" "" "$CALL"
    expect_eq "boxes" "" "$BOXES"
}

case_real_engine_installs_the_sample_package() {
    local home
    run_installer "$PRODUCT" "/s" FAKE_MSIEXEC_PASSTHROUGH=1
    expect_eq "exit code" 0 "$EXIT"
    expect_eq "engine command" "$(engine_command '  /qn WRAPPER=1')" "$CALL"
    [ -f "$DRIVE_C/Program Files/Tovimark/Orva Development Kit 4.2.0_17/NOTICE.txt" ] ||
        fail "the package's file was not installed"
    home=$(wine reg query 'HKLM\SOFTWARE\Tovimark\Orva Development Kit\4.2.0_17' /v OrvaHome 2>/dev/null | tr -d '\r')
    case $home in
    *'Orva Development Kit 4.2.0_17'*) ;;
    *) fail "OrvaHome not registered: [$home]" ;;
    esac
    # Leave the prefix as it was for the other tests.
    wine msiexec /x "$WIN_PACKAGE" /qn >/dev/null 2>&1
    wine msiexec /x '{3C1E8A52-7D04-4B6F-8E21-9A5B0C4D4217}' /qn >/dev/null 2>&1 # the runtime
}

# The stand-in waits on the event as the package does and checks every
# cabinet the moment the wait returns. An event set early shows only when the
# engine starts before the last cabinet is done, which is usual but not
# certain: three runs, and the report says how many of them really waited.
case_cabinets_are_whole_when_the_event_is_set() {
    local payload="$CABINET_PAYLOADS/all" run waited=0
    for run in 1 2 3; do
        remove_staged_cabinets
        run_installer "$CABS_PRODUCT" "/s" FAKE_MSIEXEC_WAIT_CABINETS=60000 \
            FAKE_MSIEXEC_EXPECT_DIR="$(winepath -w "$payload")"
        expect_eq "exit code" 0 "$EXIT"
        wait_for_report
        expect_eq "what the package saw (run $run)" "$(whole_cabinets_report "$payload")" \
            "$(grep -v '^event at start' <<<"$REPORT_TEXT")"
        grep -qx 'event at start: not set' <<<"$REPORT_TEXT" && waited=$((waited + 1))
    done
    echo "the engine waited for the cabinets in $waited of 3 runs"
    expect_eq "size of the header-only cabinet" 36 "$(stat -c %s "$KIT_DIR/sb420170.cab" 2>/dev/null)"
    expect_eq "boxes" "" "$BOXES"
}

case_absent_seventh_cabinet_is_skipped_and_the_event_still_set() {
    local payload="$CABINET_PAYLOADS/no7"
    remove_staged_cabinets
    run_installer "$NO7_PRODUCT" "/s" FAKE_MSIEXEC_WAIT_CABINETS=60000 \
        FAKE_MSIEXEC_EXPECT_DIR="$(winepath -w "$payload")"
    expect_eq "exit code" 0 "$EXIT"
    wait_for_report
    expect_eq "what the package saw" "$(whole_cabinets_report "$payload")" "$(grep -v '^event at start' <<<"$REPORT_TEXT")"
    expect_eq "staged cabinets" 7 "$(cd "$KIT_DIR" && ls -- *.cab | wc -l)"
}

# A folder where the fourth cabinet goes: the worker ends the process with
# the system's error while the engine waits, and the event is never set.
case_blocked_cabinet_ends_the_process_with_5_and_no_event() {
    local payload="$CABINET_PAYLOADS/all"
    remove_staged_cabinets
    mkdir -p "$KIT_DIR/sj420170.cab"
    run_installer "$CABS_PRODUCT" "/s" FAKE_MSIEXEC_WAIT_CABINETS=3000 \
        FAKE_MSIEXEC_EXPECT_DIR="$(winepath -w "$payload")"
    expect_eq "exit code" 5 "$EXIT"
    case $BOXES in
    "Error | Installer : Wrapper.CreateFile  failed with error 5: "?*) ;;
    *) fail "error box: [$BOXES]" ;;
    esac
    wait_for_report
    rmdir "$KIT_DIR/sj420170.cab"
    expect_eq "what the package saw" "event: not set after 3000 ms
sd420170.cab: ok
ss420170.cab: ok
st420170.cab: ok
sj420170.cab: missing
sp420170.cab: missing
sz420170.cab: missing
sb420170.cab: missing
sr420170.cab: missing
order: table
done" "$(grep -v '^event at start' <<<"$REPORT_TEXT")"
}

# An engine that ends at once (a cancelled maintenance run) must not cut a
# cabinet: the kit folder is the installed product's source.
case_engine_that_exits_at_once_leaves_every_cabinet_whole() {
    local payload="$CABINET_PAYLOADS/all" name
    remove_staged_cabinets
    run_installer "$CABS_PRODUCT" "/s" FAKE_MSIEXEC_EXIT=1602
    expect_eq "exit code" 1602 "$EXIT"
    for name in $CABINETS; do
        cmp -s "$payload/$name" "$KIT_DIR/$name" || fail "$name is not whole after the run"
    done
}
