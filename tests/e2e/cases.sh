# End-to-end cases that only the Linux side can set up, or that need what
# the Windows test bundle does not carry; each function is one CTest test
# (see cmake/WineTests.cmake). Every other end-to-end case is a case file of
# the driver (tests/driver/cases).

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

# system32's msi.dll, saved by the box run below, put back.
restore_system_msi() {
    local msi="$DRIVE_C/windows/system32/msi.dll"
    [ ! -f "$msi.saved" ] || mv "$msi.saved" "$msi"
}

# A planted run of <exe> without /s refused by the engine gate (msi.dll of
# 2.0.2599.65535, which Wine reads only with the native DLL preferred): the
# box is shown, the exit code is -2, and no plant is loaded.
expect_planted_box_run_clean() { # <exe> <folder> <current folder> <overrides>
    local exe=$1 folder=$2 current=$3 overrides=$4 msi="$DRIVE_C/windows/system32/msi.dll"
    restore_system_msi
    undo_later restore_system_msi
    cp "$msi" "$msi.saved" && cp "$WIN_BUILD/msi-2.0.2599.65535.dll" "$msi"
    run_installer "$exe" "" WINEDLLOVERRIDES="$overrides;msi=n" RUNNER_CWD="$(winepath -w "$current")"
    undo_now restore_system_msi
    expect_eq "exit code (the gate's box)" "$((0xFFFFFFFE))" "$EXIT"
    case $BOXES in " | Orva(TM) could not be installed"*) ;; *) fail "the gate's box: [$BOXES]" ;; esac
    expect_eq "plants loaded beside the program (the gate's box)" "" "$(loaded_plants "$folder")"
    expect_eq "plants loaded from the current folder (the gate's box)" "" "$(loaded_plants "$current")"
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
# Stays here: the names to plant come from Wine's own +loaddll trace, read on the Linux side.
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
    # A run that shows a box: the engine gate's, before any lookup has loaded
    # user32; the box loads it by full path from the system folder too.
    expect_planted_box_run_clean "$product" "$folder" "$current" "$overrides"
    # On 5.1 the same chain lies under the roaming application data folder.
    expect_planted_run_clean "5.1" "$product51" "$folder" "$current" "$overrides" \
        "${STAGED_PACKAGE/\/LocalLow\//\/Roaming\/}" "${WIN_PACKAGE/\\LocalLow\\/\\Roaming\\}"
    rm -rf "$folder" "$current" "$roaming"
}

# ---- the large kit through the installer: the installer stages about 72 MB
# of cabinets and runs the follow-up; Wine's msiexec does the installs behind
# the recording stand-in.

KIT_CODE='{9E4B2C71-3A58-4D06-B1F7-6C2D8E0A4217}'     # sample/kit.wxs
RUNTIME_CODE='{3C1E8A52-7D04-4B6F-8E21-9A5B0C4D4217}' # sample/hux.wxs
SAMPLE_HOME="$DRIVE_C/Program Files/$PROFILE_VENDOR/$PROFILE_PRODUCT $PROFILE_VERSION"
SAMPLE_HOME_WIN="C:\\Program Files\\$PROFILE_VENDOR\\$PROFILE_PRODUCT $PROFILE_VERSION\\"
RUNTIME_HOME_WIN="C:\\Program Files\\$PROFILE_VENDOR\\Orva Runtime $PROFILE_VERSION\\"
LARGE_PAYLOAD="$WIN_BUILD/../sample-payload-large"

expect_file() { [ -f "$1" ] || fail "missing: ${1#"$DRIVE_C"/}"; }
expect_no_file() { [ ! -e "$1" ] || fail "present: ${1#"$DRIVE_C"/}"; }

# Uninstalls the kit and the runtime, removes the vendor key (with what the
# runtime left in it) and the staging folders; also when the case ends,
# however it ends.
kit_reset() {
    undo_later kit_reset
    uninstall "$KIT_CODE"
    uninstall "$RUNTIME_CODE"
    wine reg delete "$VENDOR_KEY" /f >/dev/null 2>&1
    rm -rf "$STAGING_ROOT"
}

# Stays here: the bundle does not carry the large kit's installer and payload (72 MB each).
case_bootstrap_large_kit_installs_silently() {
    local file
    kit_reset
    run_installer "$WIN_BUILD/$PROFILE_KIND-large.exe" "/s" FAKE_MSIEXEC_PASSTHROUGH=1
    expect_eq "exit code" 0 "$EXIT"
    for file in demo/demo-basic.zip src.zip tools.zip bin/unpack.exe NOTICE.txt bin/orvareg.dll; do
        expect_file "$SAMPLE_HOME/$file"
    done
    expect_eq "OrvaHome" "$SAMPLE_HOME_WIN" "$(reg_value "HKLM\\$PROFILE_KIT_KEY" OrvaHome)"
    # The runtime package, installed by the follow-up and then deleted.
    expect_eq "runtime registered" "$RUNTIME_HOME_WIN" \
        "$(reg_value "$VENDOR_KEY\\Orva Runtime\\$PROFILE_VERSION" RuntimeHome)"
    for file in hux.msi hux1041.MST hux2052.MST orvadb.msi; do expect_no_file "$SAMPLE_HOME/$file"; done
    cmp -s "$SAMPLE_HOME/src.zip" "$LARGE_PAYLOAD.work/files/src.zip" || fail "the large source archive differs"
    for file in "$LARGE_PAYLOAD"/*; do
        cmp -s "$file" "$KIT_DIR/$(basename "$file")" || fail "staged $(basename "$file") differs or is missing"
    done
    undo_now kit_reset
}
