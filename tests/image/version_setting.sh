#!/bin/bash
# "make installer VERSION=...": a value that is not a version of the kit
# stops the build with one line saying which rule it breaks (make's own
# "make: ***" line aside), before anything is built: no OUT, nothing in the
# build folder. A build without VERSION is the default build, byte for byte.
# usage: version_setting.sh <source dir> <sample payload dir> <default build's exe> <scratch dir>
set -uo pipefail
source_dir=$1 sample=$2 default_exe=$3 scratch=$4
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$scratch"
mkdir -p "$scratch"
export INSTALLER_BUILD_DIR="$scratch/build"
shape='<major>.<minor>.<micro>_<update>'
characters="a version is $shape, digits and those separators only"
numbers="four numbers, separated by '.', '.' and '_' in that order"
above="is above 65535, the largest a part of the manifest's version holds"

# <how>|<value, with \n for a line break>|<the message after "build-installer: ">
# how: "make" gives VERSION on make's command line, "env" in the environment
# (make drops blanks at the start of a value on its command line).
make_installer() { # <how> <value>: make installer with that VERSION
    if [ "$1" = make ]; then
        (cd "$scratch" && make -s -C "$source_dir" installer PAYLOAD_DIR="$sample" OUT="$scratch/out.exe" VERSION="$2")
    else
        (cd "$scratch" && VERSION="$2" make -s -C "$source_dir" installer PAYLOAD_DIR="$sample" OUT="$scratch/out.exe")
    fi >"$scratch/stdout" 2>"$scratch/stderr"
}
while IFS='|' read -r how value message; do
    value=${value//\\n/$'\n'}
    rm -rf "$INSTALLER_BUILD_DIR" "$scratch/out.exe"
    make_installer "$how" "$value" && fail "[$value]: the build succeeded"
    ours=$(grep -Ev '^make(\[[0-9]+\])?: \*\*\* ' "$scratch/stderr")
    expect="build-installer: $message"
    [ "$ours" = "$expect" ] || fail "[$value]: expected the one line [$expect], got [$ours]"
    [ ! -e "$scratch/out.exe" ] || fail "[$value]: an installer was written"
    [ -z "$(ls -A "$INSTALLER_BUILD_DIR" 2>/dev/null)" ] || fail "[$value]: the build folder has contents"
done <<CASES
make||VERSION is empty: give $shape, for instance 4.2.0_17
env||VERSION is empty: give $shape, for instance 4.2.0_17
make|4.2.0|VERSION "4.2.0" is not $shape: $numbers
make|4.2.0.17|VERSION "4.2.0.17" is not $shape: $numbers
make|4.2.0_17_1|VERSION "4.2.0_17_1" is not $shape: $numbers
make|4.2.0_17.1|VERSION "4.2.0_17.1" is not $shape: $numbers
make|4_2.0.17|VERSION "4_2.0.17" is not $shape: $numbers
make|4..0_17|VERSION "4..0_17" is not $shape: $numbers
make|4.2.0_|VERSION "4.2.0_" is not $shape: $numbers
make|4.2.x_17|VERSION holds 'x': $characters
make|-4.2.0_17|VERSION holds '-': $characters
env| 4.2.0_17|VERSION holds a space: $characters
make|4.2.0_17 |VERSION holds a space: $characters
env|4.2.0_17 |VERSION holds a space: $characters
make|4.2.0_17\n...|VERSION holds a line break: $characters
make|4.2.0-17|VERSION holds '-': $characters
make|4.2.0_17;5|VERSION holds ';': $characters
make|v4.2.0_17|VERSION holds 'v': $characters
env|4.2.0_17\$(id)|VERSION holds '\$': $characters
make|4.2.0_65536|VERSION "4.2.0_65536": the update number 65536 $above
make|70000.2.0_17|VERSION "70000.2.0_17": the major number 70000 $above
make|4.2.99999999999999999999_17|VERSION "4.2.99999999999999999999_17": the micro number 99999999999999999999 $above
make|4.02.0_17|VERSION "4.02.0_17": the minor number 02 has a leading zero; write it without
CASES

# Without VERSION, and with the default spelled out, make installer builds
# the default installer, byte for byte.
for version in none 4.2.0_17; do
    setting=()
    [ "$version" = none ] || setting=(VERSION="$version")
    (cd "$scratch" && make -s -C "$source_dir" installer PAYLOAD_DIR="$sample" OUT="$scratch/$version.exe" "${setting[@]}") \
        >"$scratch/stdout" 2>"$scratch/stderr" || fail "VERSION $version: make installer failed: $(cat "$scratch/stderr")"
    cmp -s "$scratch/$version.exe" "$default_exe" || fail "VERSION $version: not the default build"
done
# The largest and smallest parts are versions.
for version in 65535.65535.65535_65535 0.0.0_0; do
    (cd "$scratch" && make -s -C "$source_dir" installer PAYLOAD_DIR="$sample" OUT="$scratch/$version.exe" \
        VERSION="$version") >"$scratch/stdout" 2>"$scratch/stderr" || fail "VERSION $version refused: $(cat "$scratch/stderr")"
done

[ "$failures" -eq 0 ] || exit 1
rm -rf "$scratch"
echo "passed"
