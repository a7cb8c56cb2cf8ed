#!/bin/bash
# Builds the installer a second time, from the same sources and payload in a
# fresh build folder, and compares it byte for byte with the first build.
# usage: reproducible.sh <source dir> <payload dir> <first build's exe> <scratch dir>
set -euo pipefail
source_dir=$1 payload=$2 first=$3 scratch=$4
rm -rf "$scratch"
cmake -S "$source_dir" -B "$scratch" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DPAYLOAD_DIR="$payload" >"$scratch.log" 2>&1 || { cat "$scratch.log"; exit 1; }
# As many compiles at once as make installer runs.
cmake --build "$scratch" --target installer -j "$(nproc)" >>"$scratch.log" 2>&1 || { cat "$scratch.log"; exit 1; }
second="$scratch/$(basename "$first")"
if cmp "$first" "$second"; then
    echo "identical: $(stat -c %s "$first") bytes"
    rm -rf "$scratch" "$scratch.log"
else
    echo "FAIL: two builds differ"
    exit 1
fi
