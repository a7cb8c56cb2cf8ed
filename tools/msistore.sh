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
    # Built beside it and renamed into place: scripts that run at the same
    # time and share <dir> (make inspect does) never run a half-written one.
    # shellcheck disable=SC2046
    gcc -O2 -o "$msistore.$$" "$root/tools/msistore.c" $(pkg-config --cflags --libs libgsf-1) >&2 ||
        { rm -f "$msistore.$$"; exit 1; }
    mv -f "$msistore.$$" "$msistore"
fi
echo "$msistore"
