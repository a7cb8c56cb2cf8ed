#!/bin/bash
# "make inspect" and "make extract" on built installers: inspect reports the
# payload (type, id, staged name, size, SHA-256), the version and kit folder
# read from the image, the execution level, the size without the payload,
# the signature and the payload check; extract writes the payload back byte
# for byte under the staged names, and the VERSION it prints rebuilds the
# same executable. Both refuse a file that is not an installer of the kit,
# and an image whose manifest disagrees with its code. extract never writes
# over a file unless FORCE=1, never through a link, never outside OUT.
# usage: read_and_unpack.sh <source dir> <sample payload dir> <test build dir> <scratch dir>
set -uo pipefail
source_dir=$1 sample=$2 build=$3 scratch=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

default_exe="$build/win/pmx4.2.0_17-windows-x64.exe"
v18_exe="$build/win-4.2.0_18/pmx4.2.0_18-windows-x64.exe"
v18_payload="$build/version-payloads/4.2.0_18"
v5_exe="$build/win-5.0.1_3/pmx5.0.1_3-windows-x64.exe"
empty_exe="$build/win/pmx-empty.exe"

rm -rf "$scratch"
mkdir -p "$scratch"
export INSTALLER_BUILD_DIR="$scratch/build"

run() { # <target> <make variables...>: output in $scratch/stdout and stderr
    local target=$1
    shift
    (cd "$scratch" && make -s -C "$source_dir" "$target" "$@") >"$scratch/stdout" 2>"$scratch/stderr"
}
has_line() { # <what> <line>: the line is in stdout
    grep -qxF -- "$2" "$scratch/stdout" || fail "$1: no line [$2] in: $(cat "$scratch/stdout")"
}
resource_line() { # <type> <id> <staged name> <payload file>
    echo "resource $1 $2: $3, $(stat -c %s "$4") bytes, sha256 $(sha256sum "$4" | cut -d' ' -f1)"
}

# What inspect reports of a build around a payload: <what> <exe> <payload dir>
# <version> <kit folder> <manifest version> <assembly> <staged names, table order>
inspect_reports() {
    local what=$1 exe=$2 payload=$3 version=$4 kit=$5 manifest=$6 assembly=$7 names=$8
    local keys=(ORVA_INSTALLER:101 ORVA_CAB6:107 ORVA_CAB9:110 ORVA_CAB10:111 ORVA_CAB7:108 ORVA_CAB8:109
                ORVA_CAB11:112 ORVA_CAB12:113 ORVA_CAB13:114)
    local i name total=0
    read -r -a names <<<"$names"
    run inspect EXE="$exe" || fail "$what: inspect failed: $(cat "$scratch/stderr")"
    has_line "$what" "version: $version"
    has_line "$what" "kit folder: $kit"
    has_line "$what" "manifest: version $manifest, assembly $assembly; the program's kit folder, package file and kit key agree"
    has_line "$what" "execution level: requireAdministrator, uiAccess false"
    for i in "${!keys[@]}"; do
        name=${names[$i]}
        has_line "$what" "$(resource_line "${keys[$i]%:*}" "${keys[$i]#*:}" "$name" "$payload/$name")"
        total=$((total + $(stat -c %s "$payload/$name")))
    done
    has_line "$what" "stub: $(($(stat -c %s "$exe") - total)) bytes without the payload (payload $total bytes, signature 0 bytes)"
    has_line "$what" "signature: none"
    has_line "$what" "payload check: passed"
}

inspect_reports "the default build" "$default_exe" "$sample" 4.2.0_17 pmx4.2.0_17_x64 4.2.0.17 pmx4.windows-amd64 \
    "pmx4.2.0_17.msi sd420170.cab ss420170.cab st420170.cab sj420170.cab sp420170.cab sz420170.cab sb420170.cab sr420170.cab"
inspect_reports "the 4.2.0_18 build" "$v18_exe" "$v18_payload" 4.2.0_18 pmx4.2.0_18_x64 4.2.0.18 pmx4.windows-amd64 \
    "pmx4.2.0_18.msi sd420180.cab ss420180.cab st420180.cab sj420180.cab sp420180.cab sz420180.cab sb420180.cab sr420180.cab"
inspect_reports "the 5.0.1_3 build" "$v5_exe" "$build/version-payloads/5.0.1_3" 5.0.1_3 pmx5.0.1_3_x64 5.0.1.3 \
    pmx5.windows-amd64 \
    "pmx5.0.1_3.msi sd50130.cab ss50130.cab st50130.cab sj50130.cab sp50130.cab sz50130.cab sb50130.cab sr50130.cab"

# A build without payload: every resource absent, and the check says so.
run inspect EXE="$empty_exe" || fail "inspect of the build without payload failed: $(cat "$scratch/stderr")"
has_line "no payload" "resource ORVA_INSTALLER 101: pmx4.2.0_17.msi, absent"
has_line "no payload" "payload check: 1 finding"
has_line "no payload" "  no package pmx4.2.0_17.msi"

# Files that are not installers of the kit: one line on stderr, exit 1.
printf 'plain text\n' >"$scratch/text.exe"
: >"$scratch/empty.exe"
# The default build with its manifest edited to say 4.2.0_18 (same length):
# the program's own names still say 4.2.0_17.
sed 's/4\.2\.0\.17/4.2.0.18/; s/Kit 4\.2\.0_17 installer/Kit 4.2.0_18 installer/' "$default_exe" >"$scratch/edited.exe"
cmp -s "$default_exe" "$scratch/edited.exe" && fail "the manifest was not edited"
sed 's/4\.2\.0\.17/4.2.0.18/' "$default_exe" >"$scratch/half-edited.exe"
# <file>|<the end of the one line>
while IFS='|' read -r file reason; do
    for target in inspect extract; do
        rm -rf "$scratch/refused-out"
        run "$target" EXE="$file" OUT=refused-out && fail "$target $file: succeeded"
        ours=$(grep -Ev '^make(\[[0-9]+\])?: \*\*\* ' "$scratch/stderr")
        [ "$ours" = "$target: $file: $reason" ] || fail "$target $file: expected [$target: $file: $reason], got [$ours]"
        [ ! -s "$scratch/stdout" ] || fail "$target $file: printed a report: $(cat "$scratch/stdout")"
        [ ! -e "$scratch/refused-out" ] || fail "$target $file: OUT was made"
    done
done <<CASES
text.exe|not an installer of this kit: not a Windows executable (Unable to read the DOS Header, possibly a truncated file.)
empty.exe|not an installer of this kit: not a Windows executable (The file is empty)
$build/win/runner.exe|not an installer of this kit: it carries no manifest
missing.exe|no such file
$scratch|not a file
edited.exe|not an installer of this kit: its manifest says version 4.2.0_18, but its code holds no kit folder pmx4.2.0_18_x64
half-edited.exe|not an installer of this kit: its manifest's description 'Orva Development Kit 4.2.0_17 installer' is not 'Orva Development Kit 4.2.0_18 installer' of version 4.2.0.18
CASES

# extract, then make installer with the VERSION it prints: the same
# executable, for the default build and for the 4.2.0_18 one.
# <what> <exe> <payload dir> <out dir name> <version>
extract_rebuilds() {
    local what=$1 exe=$2 payload=$3 out=$4 version=$5 file rebuild
    run extract EXE="$exe" OUT="$out" || { fail "$what: extract failed: $(cat "$scratch/stderr")"; return; }
    [ "$(ls -A "$scratch/$out" | sort)" = "$(ls "$payload" | sort)" ] ||
        fail "$what: extracted [$(ls -A "$scratch/$out" | paste -sd' ')], not the payload's files"
    for file in "$payload"/*; do
        cmp -s "$file" "$scratch/$out/$(basename "$file")" || fail "$what: $(basename "$file") differs from the payload"
    done
    has_line "$what" "  make installer PAYLOAD_DIR=$out VERSION=$version"
    rebuild=$(sed -n 's/^  make installer PAYLOAD_DIR=[^ ]* VERSION=\([^ ]*\)$/\1/p' "$scratch/stdout")
    run installer PAYLOAD_DIR="$out" VERSION="$rebuild" OUT="$out.exe" STRICT=1 ||
        { fail "$what: the rebuild failed: $(cat "$scratch/stderr")"; return; }
    cmp -s "$exe" "$scratch/$out.exe" || fail "$what: the rebuild differs from the installer"
}
extract_rebuilds "the default build" "$default_exe" "$sample" out-default 4.2.0_17
extract_rebuilds "the 4.2.0_18 build" "$v18_exe" "$v18_payload" out-18 4.2.0_18

# Nothing is written over without FORCE=1, nothing through a link (not even
# with FORCE=1, which replaces the link itself), nothing outside OUT.
mkdir -p "$scratch/guard/out" "$scratch/guard/outside"
printf 'kept' >"$scratch/guard/out/ss420170.cab"
ln -s ../outside/planted.cab "$scratch/guard/out/sd420170.cab"        # to a file that does not exist yet
printf 'victim' >"$scratch/guard/outside/victim.cab"
ln -s ../outside/victim.cab "$scratch/guard/out/sr420170.cab"          # to a file that does
run extract EXE="$default_exe" OUT=guard/out && fail "extract wrote over existing files"
grep -qF "guard/out already holds sd420170.cab, ss420170.cab, sr420170.cab; nothing written (FORCE=1 replaces them)" \
    "$scratch/stderr" || fail "no refusal naming the taken files: $(cat "$scratch/stderr")"
[ "$(ls -A "$scratch/guard/out" | sort | paste -sd' ')" = "sd420170.cab sr420170.cab ss420170.cab" ] ||
    fail "the refused extract wrote files: $(ls -A "$scratch/guard/out")"
[ "$(cat "$scratch/guard/out/ss420170.cab")" = kept ] || fail "the refused extract changed a file"
run extract EXE="$default_exe" OUT=guard/out FORCE=1 || fail "extract FORCE=1 failed: $(cat "$scratch/stderr")"
for file in "$sample"/*; do
    name=$(basename "$file")
    [ ! -L "$scratch/guard/out/$name" ] || fail "FORCE=1 left the link $name"
    cmp -s "$file" "$scratch/guard/out/$name" || fail "FORCE=1: $name differs from the payload"
done
[ "$(ls -A "$scratch/guard/outside")" = victim.cab ] || fail "a file was written outside OUT: $(ls -A "$scratch/guard/outside")"
[ "$(cat "$scratch/guard/outside/victim.cab")" = victim ] || fail "the file a link pointed to was changed"

[ "$failures" -eq 0 ] || exit 1
rm -rf "$scratch"
echo "passed"
