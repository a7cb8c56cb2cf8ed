#!/bin/bash
# Builds the installer around the payload in a folder.
# usage: build-installer.sh <invoking folder> <payload dir> [<out file>]
# Relative paths are taken from the invoking folder. Files of the payload are
# found by exact name; a missing one is left out with a warning.
# The payload is checked first (tools/check-payload.sh): each finding is a
# warning on stderr, and with STRICT=1 any finding fails the build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
invoking=${1:?invoking folder}
payload=${2:-}
out=${3:-}
if [ -z "$payload" ]; then
    echo "usage: make installer PAYLOAD_DIR=<dir> [OUT=<file.exe>]" >&2
    exit 2
fi
cd "$invoking"
[ -d "$payload" ] || { echo "build-installer: no folder $payload" >&2; exit 2; }
payload=$(cd "$payload" && pwd)
[ -n "$out" ] || out="$root/build/pmx4.2.0_17-windows-x64.exe"
case $out in /*) ;; *) out="$invoking/$out" ;; esac

build=${INSTALLER_BUILD_DIR:-"$root/build/installer"}
msistore="$build/host/msistore"
if [ ! -x "$msistore" ] || [ "$root/tools/msistore.c" -nt "$msistore" ]; then
    mkdir -p "$build/host"
    # shellcheck disable=SC2046
    gcc -O2 -o "$msistore" "$root/tools/msistore.c" $(pkg-config --cflags --libs libgsf-1)
fi
if ! "$root/tools/check-payload.sh" "$payload" "$msistore" && [ "${STRICT:-0}" = 1 ]; then
    echo "build-installer: the payload check found problems; STRICT=1 makes them fatal" >&2
    exit 1
fi
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DWINDOWS_TESTS=OFF -DPAYLOAD_DIR="$payload" >/dev/null
cmake --build "$build" --target installer >/dev/null
mkdir -p "$(dirname "$out")"
cp "$build/pmx4.2.0_17-windows-x64.exe" "$out"
echo "installer: $out ($(stat -c %s "$out") bytes)"
