#!/bin/bash
# The payload check of "make installer": the sample passes clean (also under
# STRICT=1); each broken payload gives its warning on stderr and, under
# STRICT=1, fails the build before anything is built.
# usage: payload_check.sh <source dir> <sample payload dir> <scratch dir>
set -uo pipefail
source_dir=$1 sample=$2 scratch=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$scratch"
mkdir -p "$scratch"
export INSTALLER_BUILD_DIR="$scratch/build"
# The one make installer builds for itself in its build folder, built here
# first: one compile for both.
msistore=$("$source_dir/tools/msistore.sh" "$INSTALLER_BUILD_DIR/host") ||
    { echo "FAIL: msistore does not build"; exit 1; }

check() { # <payload dir>: runs the check, stderr into $scratch/stderr
    "$source_dir/tools/check-payload.sh" "$1" "$msistore" 2>"$scratch/stderr"
}

make_installer() { # <payload dir> [STRICT=1]: make installer, output in $scratch/make.*
    make -s -C "$source_dir" installer PAYLOAD_DIR="$1" OUT="$scratch/kit.exe" "${@:2}" \
        >"$scratch/make.stdout" 2>"$scratch/make.stderr"
}

check "$sample" || fail "the sample payload has findings: $(cat "$scratch/stderr")"
[ ! -s "$scratch/stderr" ] || fail "the sample payload gave warnings: $(cat "$scratch/stderr")"
make_installer "$sample" STRICT=1 || fail "make installer STRICT=1 refused the sample: $(cat "$scratch/make.stderr")"
[ -f "$scratch/kit.exe" ] || fail "no installer built around the sample"
grep -q 'payload check' "$scratch/make.stderr" && fail "warnings for the sample: $(cat "$scratch/make.stderr")"

# <case>|<how the copy of the sample is broken>|<a warning it must give>
while IFS='|' read -r name breakage warning; do
    payload="$scratch/$name"
    rm -rf "$payload"
    cp -r "$sample" "$payload"
    (cd "$payload" && eval "$breakage") || { fail "$name: could not break the payload"; continue; }
    check "$payload" && fail "$name: no finding"
    grep -qF "warning: payload check: $warning" "$scratch/stderr" ||
        fail "$name: no warning [$warning] in: $(cat "$scratch/stderr")"
    rm -f "$scratch/kit.exe"
    make_installer "$payload" STRICT=1 && fail "$name: STRICT=1 did not fail the build"
    grep -qF "warning: payload check: $warning" "$scratch/make.stderr" || fail "$name: make installer did not warn"
    [ ! -e "$scratch/kit.exe" ] || fail "$name: an installer was built under STRICT=1"
done <<CASES
missing cabinet|rm ss420170.cab|ss420170.cab, named by the Media table, is missing
renamed cabinet|mv sd420170.cab sd420171.cab|sd420171.cab is not named by the Media table of pmx4.2.0_17.msi
renamed cabinet, its name gone|mv sd420170.cab sd420171.cab|sd420170.cab, named by the Media table, is missing
not a cabinet|echo 'plain text' >sz420170.cab|sz420170.cab does not begin with MSCF
no sub-storage 1041|"$msistore" remove pmx4.2.0_17.msi 1041|pmx4.2.0_17.msi has no sub-storage 1041
no sub-storages at all|"$msistore" remove pmx4.2.0_17.msi 1041 && "$msistore" remove pmx4.2.0_17.msi 2052|pmx4.2.0_17.msi has no sub-storage 2052
a cabinet name that is not one of the eight|msibuild pmx4.2.0_17.msi -q "UPDATE Media SET Cabinet='other.cab' WHERE DiskId=3"|pmx4.2.0_17.msi names the cabinet other.cab, which is not one of the eight cabinet files
an embedded cabinet|msibuild pmx4.2.0_17.msi -q "UPDATE Media SET Cabinet='#st420170.cab' WHERE DiskId=3"|the Media table of pmx4.2.0_17.msi does not name st420170.cab
not a compound file|echo 'not a database' >pmx4.2.0_17.msi|pmx4.2.0_17.msi is not a compound file
no package|rm pmx4.2.0_17.msi|no package pmx4.2.0_17.msi
CASES

[ "$failures" -eq 0 ] || exit 1
rm -rf "$scratch"
echo "passed"
