# End-to-end cases of the installers built for other versions (see
# cmake/WineTests.cmake: each around the sample payload renamed for its
# version). Uses the helpers of lib.sh and cases.sh.

V18_PRODUCT="$WIN_BUILD/../win-4.2.0_18/pmx4.2.0_18-windows-x64.exe"
V18_PAYLOAD="$WIN_BUILD/../version-payloads/4.2.0_18"
V5_PRODUCT="$WIN_BUILD/../win-5.0.1_3/pmx5.0.1_3-windows-x64.exe"
V5_PAYLOAD="$WIN_BUILD/../version-payloads/5.0.1_3"

# stages_under <exe> <payload dir> <kit folder> <package> <staged files, in name order>:
# a plain run stages the payload byte for byte in that kit folder, under
# those names, and runs the engine on that package.
stages_under() {
    local exe=$1 payload=$2 kit_folder=$3 package=$4 names=$5
    local kit="$DRIVE_C/users/$WINE_USER/AppData/LocalLow/Qel/Orva/$kit_folder" name
    local win_kit="C:\\users\\$WINE_USER\\AppData\\LocalLow\\Qel\\Orva\\$kit_folder"
    undo_later rm -rf "$kit"
    rm -rf "$kit"
    run_installer "$exe" ""
    expect_eq "exit code" 0 "$EXIT"
    expect_eq "engine command" "\"$WIN_ENGINE\" /i \"$win_kit\\$package\"  WRAPPER=1" "$CALL"
    expect_eq "staged files in $kit_folder" "$names" "$(ls -A "$kit" 2>/dev/null | sort | paste -sd' ')"
    for name in $names; do
        cmp -s "$payload/$name" "$kit/$name" || fail "$name differs from the payload"
    done
    undo_now rm -rf "$kit"
}

case_version_4_2_0_18_stages_under_its_own_names() {
    stages_under "$V18_PRODUCT" "$V18_PAYLOAD" pmx4.2.0_18_x64 pmx4.2.0_18.msi \
        "pmx4.2.0_18.msi sb420180.cab sd420180.cab sj420180.cab sp420180.cab sr420180.cab ss420180.cab st420180.cab sz420180.cab"
}

case_version_5_0_1_3_stages_under_its_own_names() {
    stages_under "$V5_PRODUCT" "$V5_PAYLOAD" pmx5.0.1_3_x64 pmx5.0.1_3.msi \
        "pmx5.0.1_3.msi sb50130.cab sd50130.cab sj50130.cab sp50130.cab sr50130.cab ss50130.cab st50130.cab sz50130.cab"
}

# The silent follow-ups take the kit home from OrvaHome of the installer's
# own version's kit key; the default build's key is another one.
case_version_4_2_0_18_reads_its_own_kit_key() {
    local kit_key="$VENDOR_KEY\\Orva Development Kit" version home
    local win_kit="C:\\users\\$WINE_USER\\AppData\\LocalLow\\Qel\\Orva\\pmx4.2.0_18_x64"
    local main="\"$WIN_ENGINE\" /i \"$win_kit\\pmx4.2.0_18.msi\"  /qn WRAPPER=1"
    local engine="\"$WIN_ENGINE\" /i"
    undo_later rm -rf "$DRIVE_C/Kit Home 4.2.0_17" "$DRIVE_C/Kit Home 4.2.0_18" \
        "$DRIVE_C/users/$WINE_USER/AppData/LocalLow/Qel/Orva/pmx4.2.0_18_x64"
    clear_installed_state
    for version in 4.2.0_17 4.2.0_18; do
        home="$DRIVE_C/Kit Home $version"
        rm -rf "$home"
        mkdir -p "$home"
        touch "$home/hux.msi" "$home/orvadb.msi" "$home/hux1041.MST" "$home/hux2052.MST"
        wine reg add "$kit_key\\$version" /v OrvaHome /t REG_SZ /d "C:\\Kit Home $version" /f >/dev/null 2>&1
    done

    run_installer "$V18_PRODUCT" "/s"
    expect_eq "exit code" 0 "$EXIT"
    expect_eq "engine calls" "$main
$engine \"C:\\Kit Home 4.2.0_18\\hux.msi\" /qn ADDLOCAL=ALL SDKSILENT=1
$engine \"C:\\Kit Home 4.2.0_18\\orvadb.msi\" /qn" "$CALL"
    expect_eq "the 4.2.0_18 kit home" "" "$(ls -A "$DRIVE_C/Kit Home 4.2.0_18")"
    expect_eq "the 4.2.0_17 kit home" "hux.msi hux1041.MST hux2052.MST orvadb.msi" \
        "$(ls -A "$DRIVE_C/Kit Home 4.2.0_17" | sort | paste -sd' ')"

    # With only 4.2.0_17's kit key registered there is no kit home for 4.2.0_18.
    wine reg delete "$kit_key\\4.2.0_18" /f >/dev/null 2>&1
    run_installer "$V18_PRODUCT" "/s"
    expect_eq "engine calls with only 4.2.0_17's OrvaHome" "$main" "$CALL"
    expect_eq "the 4.2.0_17 kit home then" "hux.msi hux1041.MST hux2052.MST orvadb.msi" \
        "$(ls -A "$DRIVE_C/Kit Home 4.2.0_17" | sort | paste -sd' ')"

    clear_installed_state
    undo_now rm -rf "$DRIVE_C/Kit Home 4.2.0_17" "$DRIVE_C/Kit Home 4.2.0_18" \
        "$DRIVE_C/users/$WINE_USER/AppData/LocalLow/Qel/Orva/pmx4.2.0_18_x64"
}
