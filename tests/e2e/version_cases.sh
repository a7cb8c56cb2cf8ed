# End-to-end cases of the installers built for other versions (see
# cmake/WineTests.cmake: each around the sample payload renamed for its
# version). Uses the helpers of lib.sh. They stay here: the Windows test
# bundle carries the installers of the default version only.

# version_names <version>: the names the build profile gives <version>, as
# V_KIT_FOLDER, V_PACKAGE, V_STAGED (the package and the cabinets, in name
# order), V_KIT_KEY; V_PRODUCT and V_PAYLOAD are its installer and payload.
version_names() {
    local $(compgen -v PROFILE_) # the default version's names stay as lib.sh loaded them
    profile_load "$1" || { fail "no build profile for $1: $PROFILE_ERROR"; return 1; }
    V_KIT_FOLDER=$PROFILE_KIT_FOLDER
    V_PACKAGE=$PROFILE_PACKAGE_FILE
    V_STAGED=$(printf '%s\n' "$PROFILE_PACKAGE_FILE" $PROFILE_CABINETS | sort | paste -sd' ')
    V_KIT_KEY="HKLM\\$PROFILE_KIT_KEY"
    V_PRODUCT="$WIN_BUILD/../win-$1/$PROFILE_INSTALLER_NAME.exe"
    V_PAYLOAD="$WIN_BUILD/../version-payloads/$1"
}

# stages_under <version>: a plain run stages the payload byte for byte in
# that version's kit folder, under its names, and runs the engine on its
# package.
stages_under() {
    version_names "$1" || return
    local kit="$STAGING_ROOT/Orva/$V_KIT_FOLDER" name
    undo_later rm -rf "$kit"
    rm -rf "$kit"
    run_installer "$V_PRODUCT" ""
    expect_eq "exit code" 0 "$EXIT"
    expect_eq "engine command" "\"$WIN_ENGINE\" /i \"$WIN_KIT_PARENT\\$V_KIT_FOLDER\\$V_PACKAGE\"  WRAPPER=1" "$CALL"
    expect_eq "staged files in $V_KIT_FOLDER" "$V_STAGED" "$(ls -A "$kit" 2>/dev/null | sort | paste -sd' ')"
    for name in $V_STAGED; do
        cmp -s "$V_PAYLOAD/$name" "$kit/$name" || fail "$name differs from the payload"
    done
    undo_now rm -rf "$kit"
}

case_version_4_2_0_18_stages_under_its_own_names() {
    stages_under 4.2.0_18
}

case_version_5_0_1_3_stages_under_its_own_names() {
    stages_under 5.0.1_3
}

# The silent follow-ups take the kit home from OrvaHome of the installer's
# own version's kit key; the default build's key is another one.
case_version_4_2_0_18_reads_its_own_kit_key() {
    local version home main engine="\"$WIN_ENGINE\" /i" default_home="$DRIVE_C/Kit Home $PROFILE_VERSION"
    undo_later rm -rf "$default_home" "$DRIVE_C/Kit Home 4.2.0_18"
    clear_installed_state
    for version in "$PROFILE_VERSION" 4.2.0_18; do # 4.2.0_18 last: its names are the V_* below
        version_names "$version" || return
        home="$DRIVE_C/Kit Home $version"
        rm -rf "$home"
        mkdir -p "$home"
        touch "$home/hux.msi" "$home/orvadb.msi" "$home/hux1041.MST" "$home/hux2052.MST"
        wine reg add "$V_KIT_KEY" /v OrvaHome /t REG_SZ /d "C:\\Kit Home $version" /f >/dev/null 2>&1
    done
    undo_later rm -rf "$STAGING_ROOT/Orva/$V_KIT_FOLDER"
    main="\"$WIN_ENGINE\" /i \"$WIN_KIT_PARENT\\$V_KIT_FOLDER\\$V_PACKAGE\"  /qn WRAPPER=1"

    run_installer "$V_PRODUCT" "/s"
    expect_eq "exit code" 0 "$EXIT"
    expect_eq "engine calls" "$main
$engine \"C:\\Kit Home 4.2.0_18\\hux.msi\" /qn ADDLOCAL=ALL SDKSILENT=1
$engine \"C:\\Kit Home 4.2.0_18\\orvadb.msi\" /qn" "$CALL"
    expect_eq "the 4.2.0_18 kit home" "" "$(ls -A "$DRIVE_C/Kit Home 4.2.0_18")"
    expect_eq "the default version's kit home" "hux.msi hux1041.MST hux2052.MST orvadb.msi" \
        "$(ls -A "$default_home" | sort | paste -sd' ')"

    # With only the default version's kit key registered there is no kit
    # home for 4.2.0_18.
    wine reg delete "$V_KIT_KEY" /f >/dev/null 2>&1
    run_installer "$V_PRODUCT" "/s"
    expect_eq "engine calls with only the default version's OrvaHome" "$main" "$CALL"
    expect_eq "the default version's kit home then" "hux.msi hux1041.MST hux2052.MST orvadb.msi" \
        "$(ls -A "$default_home" | sort | paste -sd' ')"

    clear_installed_state
    undo_now rm -rf "$STAGING_ROOT/Orva/$V_KIT_FOLDER"
    undo_now rm -rf "$default_home" "$DRIVE_C/Kit Home 4.2.0_18"
}
