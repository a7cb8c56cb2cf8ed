#!/bin/bash
# Builds the sample payload into <out dir>: the package pmx4.2.0_17.msi, made
# from kit.wxs with wixl. The installer embeds it like a release payload.
set -euo pipefail
out=${1:?usage: build-payload.sh <out dir>}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
package="$out/pmx4.2.0_17.msi"

cd "$here"
wixl -a x64 -o "$package.tmp" kit.wxs
# wixl drops files it cannot place and still succeeds: check the File table.
if ! msiinfo export "$package.tmp" File | grep -q '^readme.txt'; then
    echo "build-payload.sh: the package lost its file" >&2
    exit 1
fi
mv "$package.tmp" "$package"
echo "sample payload: $package"
