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

# Files written since <marker>, outside the kit folder and the stand-in's
# folder. The Windows tests that run meanwhile write in scratch folders of
# their own (Temp\wt-*), which are not this test's business.
written_outside() { # <marker>
    find "$DRIVE_C" -newer "$1" -type f \
        ! -path "$KIT_DIR/*" ! -path "$DRIVE_C/fakeengine/*" ! -path "$DRIVE_C/Orva Kit Home/*" \
        ! -path "$DRIVE_C/users/$WINE_USER/Temp/wt-*" 2>/dev/null
}

# watch_outside, then after the run expect_nothing_written_outside: the run
# wrote nothing outside the kit folder and the stand-in's records.
watch_outside() {
    OUTSIDE_MARKER=$(mktemp)
    undo_later rm -f "$OUTSIDE_MARKER"
    sleep 0.01 # what the run writes is newer than the marker
}

expect_nothing_written_outside() { # [<label>]
    expect_eq "${1:+$1: }written outside the kit folder" "" "$(written_outside "$OUTSIDE_MARKER")"
}

# Every engine exit code, exception codes too, is the installer's; the
# engine runs once.
case_engine_exit_code_is_passed_on() {
    local code
    for code in 1 1602 1603 3010 65536 2147483648 4294967294 3221225477; do
        watch_outside
        run_installer "$PRODUCT" "/s" FAKE_MSIEXEC_EXIT="$code"
        expect_eq "exit code $(hex "$code")" "$code" "$EXIT"
        expect_eq "engine runs for $(hex "$code")" 1 "$(grep -c . <<<"$CALL")"
        expect_nothing_written_outside "$(hex "$code")"
    done
}

case_absent_package_exits_1_without_engine() {
    rm -f "$STAGED_PACKAGE"
    watch_outside
    run_installer "$EMPTY_PRODUCT" "/s"
    expect_eq "exit code" 1 "$EXIT"
    expect_eq "engine calls" "" "$CALL"
    [ ! -e "$STAGED_PACKAGE" ] || fail "a package file was written"
    expect_nothing_written_outside
}

set_engine_location() {
    wine reg add "$INSTALLER_KEY" /v InstallerLocation /t REG_SZ /d "$1" /f >/dev/null 2>&1
}

# InstallerLocation for this case only: <location>, or none at all.
engine_location_for_the_case() { # [<location>]
    undo_later set_engine_location 'C:\fakeengine'
    if [ $# -eq 0 ]; then
        wine reg delete "$INSTALLER_KEY" /v InstallerLocation /f >/dev/null 2>&1
    else
        set_engine_location "$1"
    fi
}

case_missing_engine_location_exits_minus_3() {
    engine_location_for_the_case
    watch_outside
    run_installer "$PRODUCT" "/s"
    undo_now set_engine_location 'C:\fakeengine'
    expect_eq "exit code" "$((0xFFFFFFFD))" "$EXIT"
    expect_eq "engine calls" "" "$CALL"
    expect_nothing_written_outside
}

case_engine_that_does_not_start_exits_1() {
    local location
    for location in 'C:\no-engine-here' 'C:\no engine here'; do
        rm -f "$STAGED_PACKAGE"
        engine_location_for_the_case "$location"
        watch_outside
        run_installer "$PRODUCT" "/s"
        undo_now set_engine_location 'C:\fakeengine'
        expect_eq "exit code for [$location]" 1 "$EXIT"
        expect_eq "engine calls for [$location]" "" "$CALL"
        [ -e "$STAGED_PACKAGE" ] || fail "the package should be staged before the engine is run ($location)"
        expect_nothing_written_outside "$location"
    done
}

# The system's <name.dll> replaced by <stand-in> for this case only. A copy
# saved by a run that was cut short is put back first.
swap_system_dll_for_the_case() { # <name.dll> <stand-in>
    local dll="$DRIVE_C/windows/system32/$1"
    restore_system_dll "$1"
    cp "$dll" "$dll.saved" || return 1
    undo_later restore_system_dll "$1"
    cp "$2" "$dll"
}

restore_system_dll() { # <name.dll>
    local dll="$DRIVE_C/windows/system32/$1"
    [ ! -f "$dll.saved" ] || mv "$dll.saved" "$dll"
}

case_old_engine_is_refused_with_message_4() {
    rm -f "$STAGED_PACKAGE"
    swap_system_dll_for_the_case msi.dll "$WIN_BUILD/msi-2.0.2599.65535.dll"
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
    undo_now restore_system_dll msi.dll
}

case_engine_gate_fails_without_version_functions() {
    swap_system_dll_for_the_case version.dll "$WIN_BUILD/msi-2.0.2600.0.dll" # no exports
    run_installer "$PRODUCT" "/s" WINEDLLOVERRIDES="$WINEDLLOVERRIDES;version=n"
    undo_now restore_system_dll version.dll
    expect_eq "exit code" "$((0xFFFFFFFE))" "$EXIT"
    expect_eq "engine calls" "" "$CALL"
}

case_failed_staged_write_shows_error_and_exits_with_the_code() {
    rm -f "$STAGED_PACKAGE"
    undo_later rmdir "$STAGED_PACKAGE"
    mkdir -p "$STAGED_PACKAGE" # a folder where the package file goes
    watch_outside
    run_installer "$PRODUCT" "/s"
    undo_now rmdir "$STAGED_PACKAGE"
    expect_eq "exit code" 5 "$EXIT"
    case $BOXES in
    "Error | Installer : Wrapper.CreateFile  failed with error 5: "?*) ;;
    *) fail "error box: [$BOXES]" ;;
    esac
    expect_eq "engine calls" "" "$CALL"
    expect_nothing_written_outside
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
    undo_later uninstall '{3C1E8A52-7D04-4B6F-8E21-9A5B0C4D4217}' # the runtime
    undo_later uninstall "$WIN_PACKAGE"
    run_installer "$PRODUCT" "/s" FAKE_MSIEXEC_PASSTHROUGH=1
    expect_eq "exit code" 0 "$EXIT"
    # The follow-ups come after it (see kit_cases.sh).
    expect_eq "engine command" "$(engine_command '  /qn WRAPPER=1')" "$(head -n 1 <<<"$CALL")"
    [ -f "$DRIVE_C/Program Files/Tovimark/Orva Development Kit 4.2.0_17/NOTICE.txt" ] ||
        fail "the package's file was not installed"
    home=$(wine reg query 'HKLM\SOFTWARE\Tovimark\Orva Development Kit\4.2.0_17' /v OrvaHome 2>/dev/null | tr -d '\r')
    case $home in
    *'Orva Development Kit 4.2.0_17'*) ;;
    *) fail "OrvaHome not registered: [$home]" ;;
    esac
    # Leave the prefix as it was for the other tests.
    undo_now uninstall "$WIN_PACKAGE"
    undo_now uninstall '{3C1E8A52-7D04-4B6F-8E21-9A5B0C4D4217}'
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
    undo_later rmdir "$KIT_DIR/sj420170.cab"
    mkdir -p "$KIT_DIR/sj420170.cab"
    run_installer "$CABS_PRODUCT" "/s" FAKE_MSIEXEC_WAIT_CABINETS=3000 \
        FAKE_MSIEXEC_EXPECT_DIR="$(winepath -w "$payload")"
    expect_eq "exit code" 5 "$EXIT"
    case $BOXES in
    "Error | Installer : Wrapper.CreateFile  failed with error 5: "?*) ;;
    *) fail "error box: [$BOXES]" ;;
    esac
    wait_for_report
    undo_now rmdir "$KIT_DIR/sj420170.cab"
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

# After the engine run: the reinstall request and the silent follow-ups. The
# stand-in plays the installed package (see tests/tools/fake_msiexec.cpp). Each
# case starts and ends without the vendor key and the kit home.
VENDOR_KEY='HKLM\Software\Tovimark'
KIT_HOME_WIN='C:\Orva Kit Home'
KIT_HOME="$DRIVE_C/Orva Kit Home"
KIT_FILES='hux.msi,orvadb.msi,hux1041.MST,hux2052.MST'

# Also when the case ends, however it ends.
clear_installed_state() {
    undo_later clear_installed_state
    wine reg delete "$VENDOR_KEY" /f >/dev/null 2>&1
    rm -rf "$KIT_HOME"
}

# The InstallStatus data as reg shows it, <none>, or what went wrong.
install_status() {
    local out
    if ! out=$(wine reg query "$VENDOR_KEY" /v InstallStatus 2>&1 | tr -d '\r'); then
        case $out in
        *'Unable to find'*) echo '<none>' ;;
        *) echo "<reg query failed: $out>" ;;
        esac
        return
    fi
    sed -n 's/^ *InstallStatus    REG_SZ    //p' <<<"$out"
}

vendor_key_exists() { wine reg query "$VENDOR_KEY" >/dev/null 2>&1; }

# The files of the kit home, comma-separated in name order, or <none>.
kit_home_files() {
    [ -d "$KIT_HOME" ] || { echo '<none>'; return; }
    ls "$KIT_HOME" | sort | paste -sd, -
}

# The engine command lines after the first (the main run).
later_calls() { tail -n +2 <<<"$CALL"; }

case_reinstall_request_reruns_the_main_command() {
    local form
    for form in bare nul; do
        clear_installed_state
        local nul=()
        [ $form = nul ] && nul=(FAKE_MSIEXEC_STATUS_NUL=1)
        run_installer "$PRODUCT" "/lang=1041" FAKE_MSIEXEC_STATUS_1=reinstall "${nul[@]}" \
            FAKE_MSIEXEC_EXIT_1=1603 FAKE_MSIEXEC_EXIT_2=3010
        expect_eq "exit code ($form)" 3010 "$EXIT"
        local main
        main=$(engine_command ' TRANSFORMS=:1041  WRAPPER=1')
        expect_eq "engine calls ($form)" "$main"$'\n'"$main" "$CALL"
        expect_eq "InstallStatus after the rerun ($form)" '<none>' "$(install_status)"
        vendor_key_exists && fail "the emptied vendor key stayed ($form)"
    done
    undo_now clear_installed_state
}

# Texts of 512 bytes and more fill the status buffer: never read past it.
case_other_status_texts_give_no_rerun() {
    local text form long
    long="reinstall$(printf 'x%.0s' $(seq 600))"
    while IFS='|' read -r text form; do
        text=${text//\{long\}/"$long"}
        text=${text//\{511\}/"${long:0:511}"}
        text=${text//\{512\}/"${long:0:512}"}
        clear_installed_state
        local nul=()
        [ "$form" = nul ] && nul=(FAKE_MSIEXEC_STATUS_NUL=1)
        run_installer "$PRODUCT" "" FAKE_MSIEXEC_STATUS="$text" "${nul[@]}" FAKE_MSIEXEC_EXIT=1603
        expect_eq "exit code for [${text:0:20}] ($form)" 1603 "$EXIT"
        expect_eq "engine calls for [${text:0:20}] ($form)" "$(engine_command '  WRAPPER=1')" "$CALL"
        expect_eq "InstallStatus kept for [${text:0:20}] ($form)" "$text" "$(install_status)"
    done <<'CASES'
Reinstall|bare
Reinstall|nul
exists|bare
exists|nul
reinstal|bare
reinstalll|nul
{511}|nul
{512}|bare
{long}|bare
{long}|nul
CASES
    clear_installed_state
    run_installer "$PRODUCT" "" FAKE_MSIEXEC_EXIT=1602
    expect_eq "exit code without a vendor key" 1602 "$EXIT"
    expect_eq "engine calls without a vendor key" "$(engine_command '  WRAPPER=1')" "$CALL"
}

case_a_rerun_that_asks_again_gives_no_third_run() {
    clear_installed_state
    run_installer "$PRODUCT" "" FAKE_MSIEXEC_STATUS=reinstall FAKE_MSIEXEC_EXIT_1=1 FAKE_MSIEXEC_EXIT_2=2
    expect_eq "exit code" 2 "$EXIT"
    local main
    main=$(engine_command '  WRAPPER=1')
    expect_eq "engine calls" "$main"$'\n'"$main" "$CALL"
    expect_eq "InstallStatus left for the next start" reinstall "$(install_status)"
    undo_now clear_installed_state
}

# The follow-up command lines per command tail: the runtime package's, then
# the database package's. {rt} and {db} stand for the quoted engine and
# package paths of each, {q} for the runtime's quiet options, {home} for the
# kit home.
follow_up_line() {
    local line=$1 engine='"C:\fakeengine\msiexec.exe" /i'
    line=${line//\{rt\}/"$engine \"$KIT_HOME_WIN\\hux.msi\""}
    line=${line//\{db\}/"$engine \"$KIT_HOME_WIN\\orvadb.msi\" /qn"}
    line=${line//\{q\}/"/qn ADDLOCAL=ALL SDKSILENT=1"}
    printf '%s' "${line//\{home\}/"$KIT_HOME_WIN"}"
}

case_silent_follow_ups_install_from_the_kit_home() {
    local tail runtime database
    while IFS='|' read -r tail runtime database; do
        clear_installed_state
        run_installer "$PRODUCT" "$tail" FAKE_MSIEXEC_KIT_HOME="$KIT_HOME_WIN" FAKE_MSIEXEC_KIT_FILES="$KIT_FILES" \
            FAKE_MSIEXEC_EXIT_1=3010 FAKE_MSIEXEC_EXIT_2=1603 FAKE_MSIEXEC_EXIT_3=1603
        expect_eq "exit code for [$tail]" 3010 "$EXIT"
        expect_eq "follow-ups for [$tail]" "$(follow_up_line "$runtime")"$'\n'"$(follow_up_line "$database")" \
            "$(later_calls)"
        expect_eq "kit home after [$tail]" "" "$(kit_home_files)"
    done <<'CASES'
/s|{rt} {q}|{db}
/lang=1041 /s /INSTALLDIRPUBHUX=D:\rt /INSTALLDIRORVADB=D:\db|{rt} TRANSFORMS="{home}\hux1041.MST" {q} INSTALLDIR=D:\rt|{db} INSTALLDIR=D:\db
/s /lang=2052 "/INSTALLDIRPUBHUX=C:\Program Files\rt" "/INSTALLDIRORVADB=C:\Orva DB"|{rt} TRANSFORMS="{home}\hux2052.MST" {q} INSTALLDIR=C:\Program Files\rt|{db} INSTALLDIR=C:\Orva DB
/s "/INSTALLDIRPUBHUX=\"C:\Program Files\rt\"" "/INSTALLDIRORVADB=\"C:\Orva DB\""|{rt} {q} INSTALLDIR="C:\Program Files\rt"|{db} INSTALLDIR="C:\Orva DB"
/s /INSTALLDIRPUBHUX=D:\one /INSTALLDIRORVADB=D:\db1 /lang=2052 /INSTALLDIRPUBHUX=D:\two /INSTALLDIRORVADB=D:\db2 /lang=1041|{rt} TRANSFORMS="{home}\hux1041.MST" {q} INSTALLDIR=D:\two|{db} INSTALLDIR=D:\db2
CASES
    undo_now clear_installed_state
}

# Only the packages present are installed; the four files go whichever of
# them were there, and nothing else in the kit home is touched.
case_follow_ups_for_a_partial_kit_home() {
    local files runtime database expected
    while IFS='|' read -r files runtime database; do
        clear_installed_state
        run_installer "$PRODUCT" "/s /lang=2052" FAKE_MSIEXEC_KIT_HOME="$KIT_HOME_WIN" FAKE_MSIEXEC_KIT_FILES="$files"
        expected=$( (follow_up_line "$runtime"; echo; follow_up_line "$database") | sed '/^$/d')
        expect_eq "exit code with [$files]" 0 "$EXIT"
        expect_eq "follow-ups with [$files]" "$expected" "$(later_calls)"
        case ",$files," in
        *,notes.txt,*)
            expect_eq "kit home after [$files]" notes.txt "$(kit_home_files)"
            expect_eq "notes.txt after [$files]" notes.txt "$(cat "$KIT_HOME/notes.txt")" ;;
        *) expect_eq "kit home after [$files]" "" "$(kit_home_files)" ;;
        esac
    done <<'CASES'
hux.msi|{rt} TRANSFORMS="{home}\hux2052.MST" {q}|
orvadb.msi||{db}
hux1041.MST,hux2052.MST||
hux.msi,hux2052.MST,notes.txt|{rt} TRANSFORMS="{home}\hux2052.MST" {q}|
orvadb.msi,hux1041.MST,notes.txt||{db}
notes.txt||
||
CASES
    undo_now clear_installed_state
}

case_follow_ups_need_s_and_a_registered_kit_home() {
    clear_installed_state
    run_installer "$PRODUCT" "/qn" FAKE_MSIEXEC_KIT_HOME="$KIT_HOME_WIN" FAKE_MSIEXEC_KIT_FILES="$KIT_FILES"
    expect_eq "engine calls without /s" "$(engine_command ' /qn  WRAPPER=1')" "$CALL"
    expect_eq "kit home without /s" hux.msi,hux1041.MST,hux2052.MST,orvadb.msi "$(kit_home_files)"

    run_installer "$PRODUCT" "/S" # not silent: options are case-sensitive
    expect_eq "engine calls with /S" "$(engine_command ' /S  WRAPPER=1')" "$CALL"
    expect_eq "kit home with /S" hux.msi,hux1041.MST,hux2052.MST,orvadb.msi "$(kit_home_files)"

    wine reg delete "$VENDOR_KEY\\Orva Development Kit\\4.2.0_17" /v OrvaHome /f >/dev/null 2>&1
    run_installer "$PRODUCT" "/s"
    expect_eq "engine calls without OrvaHome" "$(engine_command '  /qn WRAPPER=1')" "$CALL"
    expect_eq "kit home without OrvaHome" hux.msi,hux1041.MST,hux2052.MST,orvadb.msi "$(kit_home_files)"
    undo_now clear_installed_state
}

case_follow_ups_run_after_a_rerun() {
    clear_installed_state
    run_installer "$PRODUCT" "/s /INSTALLDIRORVADB=D:\\db" FAKE_MSIEXEC_STATUS_1=reinstall \
        FAKE_MSIEXEC_KIT_HOME="$KIT_HOME_WIN" FAKE_MSIEXEC_KIT_FILES="$KIT_FILES" \
        FAKE_MSIEXEC_EXIT_1=1603 FAKE_MSIEXEC_EXIT_2=0 FAKE_MSIEXEC_EXIT_3=1 FAKE_MSIEXEC_EXIT_4=1
    local main
    main=$(engine_command '  /qn WRAPPER=1')
    expect_eq "exit code" 0 "$EXIT"
    expect_eq "engine calls" "$main"$'\n'"$main"$'\n'"$(follow_up_line '{rt} {q}')"$'\n'"$(follow_up_line '{db} INSTALLDIR=D:\db')" \
        "$CALL"
    expect_eq "InstallStatus" '<none>' "$(install_status)"
    expect_eq "kit home" "" "$(kit_home_files)"
    undo_now clear_installed_state
}

# A follow-up command or kit-home path that would not fit its 1024 bytes is
# never used cut: the command is not run, the path is neither probed nor
# deleted, and the phase goes on.
case_follow_ups_that_would_not_fit_are_left_out() {
    local long
    long=$(printf 'r%.0s' $(seq 1000))
    clear_installed_state
    run_installer "$PRODUCT" "/s /INSTALLDIRPUBHUX=C:\\$long /INSTALLDIRORVADB=D:\\db" \
        FAKE_MSIEXEC_KIT_HOME="$KIT_HOME_WIN" FAKE_MSIEXEC_KIT_FILES="$KIT_FILES"
    expect_eq "exit code" 0 "$EXIT"
    expect_eq "follow-ups" "$(follow_up_line '{db} INSTALLDIR=D:\db')" "$(later_calls)"
    expect_eq "kit home" "" "$(kit_home_files)"

    # A kit home that fits its buffer (1016 characters) but none of its file
    # paths: nothing is run.
    clear_installed_state
    wine reg add "$VENDOR_KEY\\Orva Development Kit\\4.2.0_17" /v OrvaHome /t REG_SZ /d "C:\\$long${long:0:13}" \
        /f >/dev/null 2>&1
    run_installer "$PRODUCT" "/s"
    expect_eq "exit code with an overlong kit home" 0 "$EXIT"
    expect_eq "engine calls with an overlong kit home" "$(engine_command '  /qn WRAPPER=1')" "$CALL"
    undo_now clear_installed_state
}

# The rerun asked for by the package starts after the worker has finished:
# its wait on the event returns at once.
case_rerun_finds_the_cabinet_event_already_set() {
    local payload="$CABINET_PAYLOADS/all"
    clear_installed_state
    remove_staged_cabinets
    run_installer "$CABS_PRODUCT" "" FAKE_MSIEXEC_WAIT_CABINETS=60000 FAKE_MSIEXEC_STATUS_1=reinstall \
        FAKE_MSIEXEC_EXPECT_DIR="$(winepath -w "$payload")"
    expect_eq "exit code" 0 "$EXIT"
    expect_eq "engine runs" 2 "$(wc -l <<<"$CALL")"
    wait_for_report
    expect_eq "what the rerun saw" "event at start: set
$(whole_cabinets_report "$payload")" "$(sed -n '/^done$/,$p' <<<"$REPORT_TEXT" | sed 1d)"
    undo_now clear_installed_state
}

case_normal_run_writes_no_log() {
    local temp_log="$DRIVE_C/users/$WINE_USER/Temp/quorlim.log"
    rm -f "$temp_log"
    run_installer "$PRODUCT" "/s"
    expect_eq "exit code" 0 "$EXIT"
    run_installer "$PRODUCT" ""
    expect_eq "exit code (interactive)" 0 "$EXIT"
    [ ! -e "$temp_log" ] || fail "a log was written: [$(cat "$temp_log")]"
}

loaded_plants() { # <folder>: the planted DLLs that were loaded, by name
    (cd "$1" && ls -- *.loaded 2>/dev/null | sed 's/\.dll\.loaded$//' | tr '\n' ' ')
}

# The DLLs (file names, lower case, one a line) that the process of <exe>
# loads in a run with <command tail>, read from Wine's +loaddll trace; the
# runner's and the engine's own loads are told apart by the process id.
dlls_loaded_by() { # <exe> <command tail> [VAR=value ...]
    local exe=$1 tail=$2 trace pid
    shift 2
    trace=$(mktemp)
    env LANG="$WINE_LANG" WINEDEBUG=+pid,+loaddll "$@" RUNNER_TAIL="$tail" \
        wine "$WIN_BUILD/runner.exe" "$(winepath -w "$exe")" </dev/null >"$trace" 2>&1
    pid=$(tr -d '\r' <"$trace" | grep ':trace:loaddll:build_module Loaded ' |
        grep -F "\\\\$(basename "$exe")\"" | head -n 1 | cut -d: -f1)
    [ -n "$pid" ] && tr -d '\r' <"$trace" | grep "^$pid:[0-9a-f]*:trace:loaddll:build_module Loaded " |
        sed 's/.*\\\\\([^\\"]*\)".*/\1/' | tr 'A-Z' 'a-z' | grep '\.dll$' | sort -u
    rm -f "$trace"
}

# What Wine 8 loads for the static imports (KERNEL32, ADVAPI32, msvcrt)
# before the program's first line, measured on a run refused at the option
# check, before the program loads anything itself. These names are not
# planted: Wine loads a DLL planted under any of them beside a program when
# native DLLs are preferred, before the program can do anything about it
# (written down as open in SECURITY.md; on Windows they are known DLLs). A
# new static import would show as names more, user32 as six.
STATIC_IMPORT_DLLS="advapi32.dll kernel32.dll kernelbase.dll msvcrt.dll sechost.dll ucrtbase.dll"

# A planted /s run of <exe>, with <current folder> as its current folder:
# it stages the package at <staged package> (<package as the engine sees
# it>), runs the engine and exits 0, and no plant in either folder is loaded.
expect_planted_run_clean() { # <label> <exe> <folder> <current folder> <overrides> <staged package> <package>
    local label=$1 exe=$2 folder=$3 current=$4 overrides=$5 staged=$6 package=$7
    rm -f "$staged"
    run_installer "$exe" "/s" WINEDLLOVERRIDES="$overrides" RUNNER_CWD="$(winepath -w "$current")"
    expect_eq "exit code ($label)" 0 "$EXIT"
    expect_eq "engine command ($label)" "\"$WIN_ENGINE\" /i \"$package\"  /qn WRAPPER=1" "$CALL"
    [ -e "$staged" ] || fail "the package was not staged ($label)"
    expect_eq "plants loaded beside the program ($label)" "" "$(loaded_plants "$folder")"
    expect_eq "plants loaded from the current folder ($label)" "" "$(loaded_plants "$current")"
    rm -f "$folder"/*.loaded "$current"/*.loaded
}

# A marker DLL planted under the name of every DLL that a /s run loads after
# the static imports, on 6.x (the LocalLow lookup through shell32) and on 5.1
# (through shfolder): the names come from tracing both runs here, so that a
# DLL the program or the shell starts to load is planted too. Native DLLs are
# preferred for each name, and the plants lie beside the program and in the
# current folder it is started with. load_probe.exe in the same folder is the
# positive control: loading shell32 by full path without the mend picks the
# plants up.
case_dlls_planted_beside_the_program_or_in_the_current_folder_are_never_loaded() {
    local folder="$DRIVE_C/planted-e2e" current="$DRIVE_C/planted-cwd-e2e"
    local product="$DRIVE_C/planted-e2e/$(basename "$PRODUCT")" product51="$DRIVE_C/planted-e2e/pmx-reported-51.exe"
    local roaming="$DRIVE_C/users/$WINE_USER/AppData/Roaming/Qel"
    local names name overrides static
    rm -rf "$folder" "$current" && mkdir -p "$folder" "$current"
    cp "$PRODUCT" "$WIN_BUILD/load_probe.exe" "$folder/" && cp "$PRODUCT" "$product51"

    static=$(dlls_loaded_by "$product" "$(printf 'P%.0s' $(seq 1100))" | paste -sd ' ')
    expect_eq "DLLs loaded for the static imports" "$STATIC_IMPORT_DLLS" "$static"
    names=$({ dlls_loaded_by "$product" "/s"; dlls_loaded_by "$product51" "/s"; } | sort -u |
        grep -vxF -f <(tr ' ' '\n' <<<"$STATIC_IMPORT_DLLS"))
    echo "planted under: $(paste -sd ' ' <<<"$names")"
    grep -qx shell32.dll <<<"$names" || fail "the traces miss shell32.dll: [$names]"
    for name in $names; do
        cp "$WIN_BUILD/planted.dll" "$folder/$name" && cp "$WIN_BUILD/planted.dll" "$current/$name"
    done
    overrides="$WINEDLLOVERRIDES;$(sed 's/\.dll$//' <<<"$names" | paste -sd ,)=n,b"

    run_installer "$folder/load_probe.exe" "plain" WINEDLLOVERRIDES="$overrides"
    [ -n "$(loaded_plants "$folder")" ] || fail "control: the plain load picked up no plant"
    echo "control: the plain load picked up $(loaded_plants "$folder")"
    rm -f "$folder"/*.loaded
    # Each mend on its own. The altered search of our loaders alone (as where
    # SetDefaultDllDirectories does not exist) keeps shell32's imports in the
    # system folder, but not imm32, which Wine's user32 loads by bare name as
    # it attaches; the whole hardening stops that too. (Where Windows lacks
    # SetDefaultDllDirectories, imm32 is a known DLL.)
    local mode expected
    for mode in loaders mended; do
        expected=""
        [ $mode = loaders ] && expected="imm32 "
        run_installer "$folder/load_probe.exe" "$mode" WINEDLLOVERRIDES="$overrides"
        expect_eq "probe exit code ($mode)" 0 "$EXIT"
        expect_eq "plants loaded ($mode)" "$expected" "$(loaded_plants "$folder")"
        rm -f "$folder"/*.loaded
    done

    expect_planted_run_clean "6.x" "$product" "$folder" "$current" "$overrides" "$STAGED_PACKAGE" "$WIN_PACKAGE"
    # On 5.1 the same chain lies under the roaming application data folder.
    expect_planted_run_clean "5.1" "$product51" "$folder" "$current" "$overrides" \
        "${STAGED_PACKAGE/\/LocalLow\//\/Roaming\/}" "${WIN_PACKAGE/\\LocalLow\\/\\Roaming\\}"
    rm -rf "$folder" "$current" "$roaming"
}

# user32 disabled for a copy of the program (the test bed's AppDefaults for
# pmx-without-user32.exe): no box can be shown, and each exit code stays.
# Without user32 Wine cannot load shell32 either, so the lookup falls back to
# the profile folder, where the package's path is blocked.
case_without_user32_no_box_is_shown_and_the_exit_codes_stay() {
    local folder="$DRIVE_C/no-user32-e2e"
    local blocked="${STAGED_PACKAGE/\/AppData\/LocalLow\//\/}" # the same chain under the profile
    undo_later rm -rf "$folder" "$DRIVE_C/users/$WINE_USER/Qel"
    rm -rf "$folder" && mkdir -p "$folder"
    cp "$PRODUCT" "$folder/pmx-without-user32.exe"

    swap_system_dll_for_the_case msi.dll "$WIN_BUILD/msi-2.0.2599.65535.dll"
    run_installer "$folder/pmx-without-user32.exe" "/s" WINEDLLOVERRIDES="$WINEDLLOVERRIDES;msi=n"
    undo_now restore_system_dll msi.dll
    expect_eq "exit code of the engine gate" "$((0xFFFFFFFE))" "$EXIT"
    expect_eq "boxes of the engine gate" "" "$BOXES"

    mkdir -p "$blocked" # a folder where the package file goes
    run_installer "$folder/pmx-without-user32.exe" "/s"
    expect_eq "exit code of a failed write" 5 "$EXIT"
    expect_eq "boxes of a failed write" "" "$BOXES"
    expect_eq "engine calls" "" "$CALL"
    undo_now rm -rf "$folder" "$DRIVE_C/users/$WINE_USER/Qel"
}

# The shell hands back a folder that is not fit to stage under (a relative
# one, from the prefix's User Shell Folders): the profile folder is used,
# and when that is unfit too, the Windows folder.
case_unusable_shell_folder_falls_back_to_the_profile_then_windows() {
    local folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
    local local_low='{A520A1A4-1780-4FF6-BD18-167343C5AF16}' tail='Qel\Orva\pmx4.2.0_17_x64\pmx4.2.0_17.msi'
    undo_later rm -rf "$DRIVE_C/users/$WINE_USER/Qel" "$DRIVE_C/windows/Qel"
    undo_later delete_registry_value "$folders" "$local_low"
    wine reg add "$folders" /v "$local_low" /t REG_EXPAND_SZ /d 'relative\LocalLow' /f >/dev/null 2>&1
    run_installer "$PRODUCT" "/s"
    expect_eq "exit code (profile)" 0 "$EXIT"
    expect_eq "engine command (profile)" "\"$WIN_ENGINE\" /i \"C:\\users\\$WINE_USER\\$tail\"  /qn WRAPPER=1" "$CALL"
    [ -f "$DRIVE_C/users/$WINE_USER/Qel/Orva/pmx4.2.0_17_x64/pmx4.2.0_17.msi" ] ||
        fail "the package is not staged under the profile folder"

    run_installer "$PRODUCT" "/s" RUNNER_ENV='USERPROFILE=relative'
    expect_eq "exit code (Windows folder)" 0 "$EXIT"
    expect_eq "engine command (Windows folder)" "\"$WIN_ENGINE\" /i \"C:\\windows\\$tail\"  /qn WRAPPER=1" "$CALL"
    [ -f "$DRIVE_C/windows/Qel/Orva/pmx4.2.0_17_x64/pmx4.2.0_17.msi" ] ||
        fail "the package is not staged under the Windows folder"

    undo_now delete_registry_value "$folders" "$local_low"
    undo_now rm -rf "$DRIVE_C/users/$WINE_USER/Qel" "$DRIVE_C/windows/Qel"
}

# Bad inputs, one row each, with the result each must give. Every row runs
# the installer once; besides the exit code and the number of engine runs,
# nothing may be written outside the kit folder and the stand-in's records.
# The preparation is a function below and its argument, if any. (The bad
# inputs that a case of their own shows are not repeated here: a folder where
# the package goes, an engine that exits with an exception code, a missing or
# wrong InstallerLocation, no package embedded, a linked kit folder, a hard
# link at the package's path.)
#   label | preparation | command tail | exit code | engine runs
BAD_INPUTS=$(cat <<'ROWS'
options: an argument of 1022 bytes|nothing|{1022}|1639|0
options: an argument of 1023 bytes|nothing|{1023}|1639|0
options: /v" alone|nothing|/v"|0|1
options: /lang= without digits|nothing|/lang= /s|0|1
options: /lang= with a huge number|nothing|/lang=99999999999999999999999 /s|0|1
options: non-ASCII bytes|nothing|é ü ß 日本 /s|0|1
InstallStatus: 511 bytes without NUL|status_of_length 511|/s|0|1
InstallStatus: 512 bytes with NUL|status_of_length_with_nul 512|/s|0|1
InstallStatus: 4096 bytes without NUL|status_of_length 4096|/s|0|1
InstallStatus: 4096 bytes with NUL|status_of_length_with_nul 4096|/s|0|1
InstallStatus: REG_DWORD|install_status_dword|/s|0|1
InstallStatus: REG_MULTI_SZ of "reinstall" (a terminated string: rerun)|install_status_multi_sz|/s|0|2
OrvaHome: empty|kit_home_empty|/s|0|1
OrvaHome: REG_DWORD|kit_home_dword|/s|0|1
OrvaHome: 1023 bytes|kit_home_of_1023_bytes|/s|0|1
OrvaHome: a missing folder|kit_home_missing|/s|0|1
TMPDIR of 300 characters|tmpdir_of_300_characters|/s|0|1
staging: a file where the Orva folder goes|file_where_the_orva_folder_goes|/s|3|0
ROWS
)

KIT_KEY_E2E='HKLM\SOFTWARE\Tovimark\Orva Development Kit\4.2.0_17'
ORVA_DIR=${KIT_DIR%/*}
BAD_INPUT_LONG=$(printf 'P%.0s' $(seq 4096))
BAD_INPUT_STATUS="reinstall$BAD_INPUT_LONG"

# The preparations of the rows. They run in the row's own shell: what they
# export reaches only that row's run.
nothing() { :; }
status_of_length() { export FAKE_MSIEXEC_STATUS="${BAD_INPUT_STATUS:0:$1}"; }
status_of_length_with_nul() { status_of_length "$1" && export FAKE_MSIEXEC_STATUS_NUL=1; }
install_status_dword() {
    wine reg add "$VENDOR_KEY" /v InstallStatus /t REG_DWORD /d 7 /f
}
install_status_multi_sz() {
    wine reg add "$VENDOR_KEY" /v InstallStatus /t REG_MULTI_SZ /d reinstall /f
}
kit_home_value() { # <reg add arguments after the value name>
    undo_later delete_registry_key "$KIT_KEY_E2E"
    wine reg add "$KIT_KEY_E2E" /v OrvaHome "$@" /f
}
kit_home_empty() { kit_home_value /t REG_SZ /d ''; }
kit_home_dword() { kit_home_value /t REG_DWORD /d 1; }
kit_home_of_1023_bytes() { kit_home_value /t REG_SZ /d "C:\\${BAD_INPUT_LONG:0:1020}"; }
kit_home_missing() { kit_home_value /t REG_SZ /d 'C:\no such kit home'; }
tmpdir_of_300_characters() { export RUNNER_ENV="TMPDIR=C:\\${BAD_INPUT_LONG:0:297}"; }
file_where_the_orva_folder_goes() {
    undo_later remove_file_where_the_orva_folder_goes
    rm -rf "$ORVA_DIR" && : >"$ORVA_DIR"
}
remove_file_where_the_orva_folder_goes() { [ ! -f "$ORVA_DIR" ] || rm -f "$ORVA_DIR"; }

case_bad_inputs_give_their_defined_results() {
    local label prepare tail exit runs preparation row_out
    row_out=$(mktemp)
    while IFS='|' read -r label prepare tail exit runs; do
        tail=${tail//\{1022\}/"${BAD_INPUT_LONG:0:1022}"}
        tail=${tail//\{1023\}/"${BAD_INPUT_LONG:0:1023}"}
        read -r -a preparation <<<"$prepare"
        clear_installed_state
        mkdir -p "$KIT_DIR"
        (
            "${preparation[@]}" >/dev/null 2>&1
            watch_outside
            run_installer "$PRODUCT" "$tail"
            echo "outside: $(written_outside "$OUTSIDE_MARKER" | paste -sd' ')"
            echo "$EXIT|$(grep -c . <<<"$CALL")|$BOXES"
        ) >"$row_out" 2>&1
        local result
        result=$(tail -n 1 "$row_out")
        expect_eq "$label: exit code" "$exit" "${result%%|*}"
        result=${result#*|}
        expect_eq "$label: engine runs" "$runs" "${result%%|*}"
        expect_eq "$label: written outside the kit folder" "" "$(sed -n 's/^outside: //p' "$row_out")"
        # What the row left behind goes, so that the next row starts clean.
        undo_now
        rm -rf "$STAGED_PACKAGE"
    done <<<"$BAD_INPUTS"
    rm -f "$row_out"
}

# The kit folder replaced by a link to another folder (what Wine shows for a
# junction): the package is refused with 4395 before anything is written
# through the link, and no engine runs. The real kit folder is put back.
case_linked_kit_folder_stops_staging_with_4395() {
    local other="$DRIVE_C/link-target-e2e"
    put_kit_folder_back
    rm -rf "$other" "$KIT_DIR.aside" && mkdir -p "$other" "$KIT_DIR"
    undo_later rm -rf "$other"
    undo_later put_kit_folder_back
    mv "$KIT_DIR" "$KIT_DIR.aside"
    ln -s "$other" "$KIT_DIR"
    watch_outside
    run_installer "$PRODUCT" "/s"
    undo_now put_kit_folder_back
    expect_eq "exit code" 4395 "$EXIT"
    case $BOXES in
    "Error | Installer : Wrapper.CreateFile  failed with error 4395: "*) ;;
    *) fail "error box: [$BOXES]" ;;
    esac
    expect_eq "engine calls" "" "$CALL"
    expect_eq "written through the link" "" "$(ls -A "$other")"
    expect_nothing_written_outside
    undo_now rm -rf "$other"
}

# The link in place of the kit folder goes, the real one comes back.
put_kit_folder_back() {
    [ -L "$KIT_DIR" ] || return 0
    rm "$KIT_DIR" && mv "$KIT_DIR.aside" "$KIT_DIR"
}

# A hard link planted at the package's path, to a file outside the kit
# folder: the staged package is a new file, the one outside keeps its bytes.
case_hard_link_at_the_package_path_is_replaced() {
    local outside="$DRIVE_C/precious-e2e.txt"
    undo_later rm -f "$outside"
    echo "precious bytes" >"$outside"
    mkdir -p "$KIT_DIR" && rm -f "$STAGED_PACKAGE"
    ln "$outside" "$STAGED_PACKAGE"
    watch_outside
    run_installer "$PRODUCT" "/s"
    expect_eq "exit code" 0 "$EXIT"
    expect_eq "engine runs" 1 "$(grep -c . <<<"$CALL")"
    expect_nothing_written_outside
    expect_eq "the file outside" "precious bytes" "$(cat "$outside")"
    cmp -s "$STAGED_PACKAGE" "$WIN_BUILD/../sample-payload/pmx4.2.0_17.msi" ||
        fail "the staged package differs from the embedded one"
    expect_eq "links to the staged package" 1 "$(stat -c %h "$STAGED_PACKAGE")"
    expect_eq "boxes" "" "$BOXES"
    undo_now rm -f "$outside"
}
