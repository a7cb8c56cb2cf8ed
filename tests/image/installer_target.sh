#!/bin/bash
# "make installer" as release scripts use it: a relative PAYLOAD_DIR and OUT
# with spaces, taken from the invoking folder; absent files left out with a
# warning and exit 0; a changed payload file embedded again on the next build.
# usage: installer_target.sh <source dir> <sample payload dir> <scratch dir>
set -uo pipefail
source_dir=$1 sample=$2 scratch=$3
check=(/usr/bin/python3 "$source_dir/tests/image/check_image.py")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$scratch"
mkdir -p "$scratch/pay load" "$scratch/out dir"
cp "$sample/pmx4.2.0_17.msi" "$scratch/pay load/"
printf 'MSCF first' >"$scratch/pay load/sd420170.cab"
printf 'not a payload file' >"$scratch/pay load/SD420170.CAB" # names are exact
export INSTALLER_BUILD_DIR="$scratch/build"

build() { # runs make installer from the scratch folder with relative paths
    (cd "$scratch" && make -s -C "$source_dir" installer PAYLOAD_DIR="pay load" OUT="out dir/kit.exe") \
        >"$scratch/stdout" 2>"$scratch/stderr"
}

build || fail "make installer failed: $(cat "$scratch/stderr")"
exe="$scratch/out dir/kit.exe"
[ -f "$exe" ] || fail "no installer at OUT"
warnings=$(grep -c 'warning: payload: .* not found' "$scratch/stderr")
[ "$warnings" = 7 ] || fail "expected 7 warnings for the absent cabinets, got $warnings"
"${check[@]}" resources "$exe" "$scratch/pay load" >/dev/null || fail "package resource"
"${check[@]}" resource-bytes "$exe" ORVA_CAB6 107 "$scratch/pay load/sd420170.cab" || fail "cabinet resource"

printf 'MSCF second, longer' >"$scratch/pay load/sd420170.cab"
build || fail "second make installer failed"
"${check[@]}" resource-bytes "$exe" ORVA_CAB6 107 "$scratch/pay load/sd420170.cab" ||
    fail "the changed cabinet was not embedded again"

(cd "$scratch" && make -s -C "$source_dir" installer >/dev/null 2>&1) && fail "PAYLOAD_DIR should be required"

[ "$failures" -eq 0 ] || exit 1
rm -rf "$scratch"
echo "passed"
