#!/bin/bash
# Builds the sample payload into <out dir>: the kit package pmx4.2.0_17.msi and
# its eight cabinets, everything from the sources in this folder.
#   build-payload.sh <out dir> [small|large|huge]
# The large variant carries about 72 MB of incompressible archives, as much as
# a real kit; the huge one, for the benchmark, about 256 MB. Intermediate
# files go to <out dir>.work.
#
# wixl makes the package and drops what it cannot place while still
# succeeding, so every table that matters is corrected with msibuild and then
# checked; gcab makes the cabinets, except the seventh, which is header-only.
set -euo pipefail
out=${1:?usage: build-payload.sh <out dir> [small|large|huge]}
variant=${2:-small}
case $variant in small | large | huge) ;; *) echo "build-payload.sh: variant is small, large or huge" >&2; exit 2 ;; esac
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
work="$out.work"
files="$work/files" # one file per File key: cabinet members are named by key
rm -rf "$work"
mkdir -p "$files"

KIT_CODE='{9E4B2C71-3A58-4D06-B1F7-6C2D8E0A4217}'
KIT_UPGRADE='{6B1F6C2E-52B6-4E0C-9A39-2C7E4D0B4217}'
HUX_CODE='{3C1E8A52-7D04-4B6F-8E21-9A5B0C4D4217}'
HUX_UPGRADE='{5D7A2B19-0C3E-4F8A-B6D2-1E9F7A3C4217}'
VERSION=4.2.0.17
FIXED_TIME='2026-01-01 00:00:00 UTC' # file times in the cabinets

# Cabinets in media order, each with the File keys it holds (by role).
CABINETS=(
    "sd420170.cab demo_basic.zip demo_advanced.zip" # demo archives
    "ss420170.cab src.zip"                          # source archive
    "st420170.cab tools.zip"                        # tools archive
    "sj420170.cab hux.msi hux1041.MST hux2052.MST orvadb.msi" # runtime package, transforms
    "sp420170.cab unpack.exe"                       # unpacking tool
    "sz420170.cab NOTICE.txt"                       # notice
    "sb420170.cab"                                  # header-only, no files
    "sr420170.cab orvareg.dll"                      # registration library
)

fail() { echo "build-payload.sh: $*" >&2; exit 1; }
query() { msibuild "$1" -q "$2" || fail "query failed on $(basename "$1"): $2"; }
table() { msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r'; }

# -- programs ------------------------------------------------------------
WINCC=(x86_64-w64-mingw32-gcc -Os -s -Wall -Wextra -Werror -static -Wl,--no-insert-timestamp)
"${WINCC[@]}" -shared -o "$files/orvaca.dll" "$here/customactions.c" -lmsi
"${WINCC[@]}" -shared -o "$files/orvareg.dll" "$here/orvareg.c"
"${WINCC[@]}" -mwindows -o "$files/unpack.exe" "$here/unpack.c"
msistore="$work/msistore"
# shellcheck disable=SC2046
gcc -O2 -Wall -Wextra -Werror -o "$msistore" "$root/tools/msistore.c" $(pkg-config --cflags --libs libgsf-1)

# -- content -------------------------------------------------------------
/usr/bin/python3 "$here/make-content.py" "$files" "$variant"
cp "$here/NOTICE.txt" "$here/runtime.txt" "$files/"
: >"$files/orvadb.msi" # an empty placeholder; its feature is off on 64-bit systems

# -- the runtime package and its external transforms ---------------------
cd "$files"
wixl -a x64 -o hux.msi "$here/hux.wxs"
query hux.msi "UPDATE CustomAction SET Type=1 WHERE Action='RecordInstallStatus'"
table hux.msi File | grep -q '^runtime.txt' || fail "hux.msi lost its file"
[ "$(table hux.msi CustomAction | cut -f1,2)" = "RecordInstallStatus	1" ] || fail "hux.msi custom action"
for language in 1041 2052; do
    "$msistore" transform "hux$language.MST" "x64;1033" "$HUX_CODE$VERSION;$HUX_CODE$VERSION;$HUX_UPGRADE" \
        "HUX_LANGUAGE=$language"
done
rm runtime.txt

# -- the kit package -----------------------------------------------------
package="$work/pmx4.2.0_17.msi"
wixl -a x64 -o "$package" "$here/kit.wxs"

# File sequences and media: the files of each cabinet in a run of sequence
# numbers, each Media row ending at its cabinet's last file.
sequence=0 disk=0
for row in "${CABINETS[@]}"; do
    read -r -a fields <<<"$row"
    disk=$((disk + 1))
    for key in "${fields[@]:1}"; do
        sequence=$((sequence + 1))
        query "$package" "UPDATE File SET Sequence=$sequence WHERE File='$key'"
    done
    query "$package" "UPDATE Media SET LastSequence=$sequence WHERE DiskId=$disk"
done

# Custom action types: DLL in the Binary table (1); the wait runs in the
# first sequence only (+256), or a full-UI run would wait twice.
for action in FailOnRequest SimulateCancel CleanStagingFolder CleanStagingOnCancel RemoveKitHomeFiles; do
    query "$package" "UPDATE CustomAction SET Type=1 WHERE Action='$action'"
done
query "$package" "UPDATE CustomAction SET Type=257 WHERE Action='WaitForCabinets'"

# The runtime files only while this version of the runtime is not registered.
query "$package" "UPDATE Component SET Condition='NOT HUXREGISTERED' WHERE Component='RuntimePackage'"

# The database placeholder's feature is off on 64-bit systems.
query "$package" 'CREATE TABLE `Condition` (`Feature_` CHAR(38) NOT NULL, `Level` SHORT NOT NULL, `Condition` CHAR(255) PRIMARY KEY `Feature_`, `Level`)'
query "$package" "INSERT INTO \`Condition\` (\`Feature_\`, \`Level\`, \`Condition\`) VALUES ('Database', 0, 'VersionNT64')"

# A full-UI run installs the runtime itself after the install (an executable
# run in the kit's folder, exit code ignored: 34 + 64), with the transform
# that the kit's own transform names, and then removes the four files.
runtime='"[System64Folder]msiexec.exe" /i "[INSTALLDIR]hux.msi"'
tail='/qn ADDLOCAL=ALL HUXANSWER="[HUXANSWER]"'
query "$package" "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('LaunchRuntime', 98, 'INSTALLDIR', '$runtime $tail')"
query "$package" "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('LaunchRuntimeTransformed', 98, 'INSTALLDIR', '$runtime TRANSFORMS=\"[INSTALLDIR][HUX_MST]\" $tail')"
query "$package" "INSERT INTO InstallUISequence (Action, Condition, Sequence) VALUES ('LaunchRuntime', 'NOT Installed AND NOT HUXREGISTERED AND NOT HUX_MST', 1310)"
query "$package" "INSERT INTO InstallUISequence (Action, Condition, Sequence) VALUES ('LaunchRuntimeTransformed', 'NOT Installed AND NOT HUXREGISTERED AND HUX_MST', 1311)"

# -- checks of the tables ------------------------------------------------
expected_files=$(for row in "${CABINETS[@]}"; do read -r -a f <<<"$row"; [ ${#f[@]} -eq 1 ] || printf '%s\n' "${f[@]:1}"; done)
actual_files=$(table "$package" File | sort -t$'\t' -k8n | cut -f1)
[ "$actual_files" = "$expected_files" ] || fail "File table: $(echo $actual_files)"
[ "$(table "$package" Media | cut -f1,2,4 | tr '\t' ' ')" = "$(
    s=0 d=0
    for row in "${CABINETS[@]}"; do
        read -r -a f <<<"$row"
        d=$((d + 1)) s=$((s + ${#f[@]} - 1))
        echo "$d $s ${f[0]}"
    done)" ] || fail "Media table: $(table "$package" Media | cut -f1,2,4 | tr '\t\n' ' ;')"
[ "$(table "$package" CustomAction | cut -f1,2 | sort | tr '\t\n' ' ;')" = \
    "CleanStagingFolder 1;CleanStagingOnCancel 1;FailOnRequest 1;LaunchRuntime 98;LaunchRuntimeTransformed 98;RemoveKitHomeFiles 1;SimulateCancel 1;WaitForCabinets 257;" ] ||
    fail "CustomAction table: $(table "$package" CustomAction | cut -f1,2 | tr '\t\n' ' ;')"
table "$package" InstallExecuteSequence | sort -t$'\t' -k3n | grep -v '	-' | head -n 1 | grep -q '^WaitForCabinets' ||
    fail "the wait is not the first action of the execute sequence"
table "$package" InstallUISequence | sort -t$'\t' -k3n | grep -v '	-' | head -n 1 | grep -q '^WaitForCabinets' ||
    fail "the wait is not the first action of the user-interface sequence"
table "$package" LaunchCondition | grep -q '^Privileged	' || fail "no launch condition on Privileged"
table "$package" Condition | grep -q '^Database	0	VersionNT64$' || fail "Condition table"
table "$package" Component | grep -q '^RuntimePackage	.*NOT HUXREGISTERED' || fail "Component condition"
table "$package" Registry | grep -q 'OrvaHome	\[INSTALLDIR\]' || fail "OrvaHome is not registered"

# -- the embedded transforms, after the last change to the tables ---------
for language in 1041 2052; do
    "$msistore" transform "$work/kit$language.mst" "x64;1033" "$KIT_CODE$VERSION;$KIT_CODE$VERSION;$KIT_UPGRADE" \
        "KIT_LANGUAGE=$language" "HUX_MST=hux$language.MST"
    "$msistore" embed "$package" "$language" "$work/kit$language.mst"
done
storages=$("$msistore" list "$package" | sed -n 's/^storage //p' | sort | tr '\n' ' ')
[ "$storages" = "1041 2052 " ] || fail "sub-storages: $storages"
[ "$(table "$package" File | wc -l)" = "$sequence" ] || fail "embedding the transforms broke the package"

# -- cabinets ------------------------------------------------------------
staged="$work/cabinets"
mkdir -p "$staged"
touch -d "$FIXED_TIME" "$files"/*
for row in "${CABINETS[@]}"; do
    read -r -a fields <<<"$row"
    cabinet="$staged/${fields[0]}"
    if [ ${#fields[@]} -eq 1 ]; then
        # Header only: signature, size 36, files at 36, version 1.3, no folders or files.
        printf 'MSCF\0\0\0\0\x24\0\0\0\0\0\0\0\x24\0\0\0\0\0\0\0\x03\x01\0\0\0\0\0\0\0\0\0\0' >"$cabinet"
        [ "$(stat -c %s "$cabinet")" = 36 ] || fail "header-only cabinet is not 36 bytes"
        continue
    fi
    gcab -c -n "$cabinet" "${fields[@]:1}"
    members=$(gcab -t "$cabinet" | tr '\n' ' ')
    [ "$members" = "${fields[*]:1} " ] || fail "${fields[0]} holds [$members]"
done

# -- the payload: the package and the eight cabinets, nothing else --------
rm -f "$out"/*.cab "$out/pmx4.2.0_17.msi"
mv "$staged"/*.cab "$out/"
mv "$package" "$out/pmx4.2.0_17.msi"
echo "sample payload ($variant): $out"
