# End-to-end cases: each function is one CTest test (see cmake/WineTests.cmake).

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

# The files of the kit home, comma-separated in name order, or <none>.
kit_home_files() {
    [ -d "$KIT_HOME" ] || { echo '<none>'; return; }
    ls "$KIT_HOME" | sort | paste -sd, -
}

# The engine command lines after the first (the main run).
later_calls() { tail -n +2 <<<"$CALL"; }

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
