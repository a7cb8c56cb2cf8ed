#!/bin/bash
# Builds tools/msistore.c (our compound-file tool on libgsf) into <dir> when
# it is missing or older than its source, and prints the program's path.
# usage: msistore.sh <dir>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:?usage: msistore.sh <dir>}
msistore="$dir/msistore"
if [ ! -x "$msistore" ] || [ "$root/tools/msistore.c" -nt "$msistore" ]; then
    mkdir -p "$dir"
    # shellcheck disable=SC2046
    gcc -O2 -o "$msistore" "$root/tools/msistore.c" $(pkg-config --cflags --libs libgsf-1) >&2
fi
echo "$msistore"
