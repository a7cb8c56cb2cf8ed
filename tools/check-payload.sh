#!/bin/bash
# Checks, from the bytes, what the bootstrap relies on in a payload folder,
# before it is embedded:
#   - the package is a compound file whose Media table names exactly the eight
#     cabinet files, by plain name;
#   - the package holds the sub-storages 1041 and 2052 (the transforms the
#     bootstrap passes for Japanese and Simplified Chinese users);
#   - every cabinet present begins with "MSCF" and is named by the Media table;
#   - no cabinet the Media table names is missing.
# Each finding is one "warning: payload check: ..." line on stderr.
# usage: check-payload.sh <payload dir> <msistore program> [<version>]
# The names are those of <version> (default: the build's default version).
# Exit status: 0 without findings, 1 with findings, 2 on a usage error.
set -uo pipefail
payload=${1:?usage: check-payload.sh <payload dir> <msistore program> [<version>]}
msistore=${2:?msistore program}
root=$(cd "$(dirname "$0")/.." && pwd)

# The names, as the program and the build know them: the build profile of the
# version (cmake/Profile.cmake, which names the cabinets from the program's
# own table, staging/cabinet_table.h).
. "$root/tools/profile.sh"
profile_load "${@:3:1}" || { echo "check-payload: $PROFILE_ERROR" >&2; exit 2; }
PACKAGE=$PROFILE_PACKAGE_FILE
read -r -a CABINETS <<<"$PROFILE_CABINETS"
[ -d "$payload" ] || { echo "check-payload: no folder $payload" >&2; exit 2; }

findings=0
finding() {
    echo "warning: payload check: $*" >&2
    findings=$((findings + 1))
}
# in_list <name> <names...>: whether <name> is one of them. (Not printf into
# grep -q: grep may leave before printf is done, and under pipefail the
# broken pipe reads as "not found".)
in_list() {
    local name=$1 item
    shift
    for item in "$@"; do [ "$name" = "$item" ] && return 0; done
    return 1
}

# The cabinets the Media table names, one per line, in the array `named`.
named=()
read_media_table() {
    local package=$1 dump header column=0 i row cabinet
    dump=$(msiinfo export "$package" Media 2>/dev/null | tr -d '\r') ||
        { finding "$PACKAGE has no readable Media table"; return; }
    IFS=$'\t' read -r -a header <<<"$(head -n 1 <<<"$dump")"
    for i in "${!header[@]}"; do [ "${header[$i]}" = Cabinet ] && column=$((i + 1)); done
    [ "$column" -gt 0 ] || { finding "$PACKAGE has no Cabinet column in its Media table"; return; }
    while IFS= read -r row; do
        cabinet=$(cut -f"$column" <<<"$row")
        case $cabinet in
        "") finding "a Media row of $PACKAGE names no cabinet" ;;
        "#"*) finding "$PACKAGE names the embedded cabinet $cabinet; the eight cabinets must be external files" ;;
        *)
            in_list "$cabinet" "${CABINETS[@]}" ||
                finding "$PACKAGE names the cabinet $cabinet, which is not one of the eight cabinet files"
            named+=("$cabinet")
            ;;
        esac
    done < <(tail -n +4 <<<"$dump")
    for cabinet in "${CABINETS[@]}"; do
        in_list "$cabinet" "${named[@]}" ||
            finding "the Media table of $PACKAGE does not name $cabinet"
    done
}

check_package() {
    local package="$payload/$PACKAGE" entries storage
    if [ ! -f "$package" ]; then
        finding "no package $PACKAGE"
        return 1
    fi
    if ! entries=$("$msistore" list "$package" 2>/dev/null); then
        finding "$PACKAGE is not a compound file"
        return 1
    fi
    for storage in 1041 2052; do
        grep -qxF "storage $storage" <<<"$entries" || finding "$PACKAGE has no sub-storage $storage"
    done
    read_media_table "$package"
}

check_cabinets() {
    local path name
    for path in "$payload"/*; do
        name=$(basename "$path")
        [ -f "$path" ] || continue
        case ${name,,} in *.cab) ;; *) continue ;; esac
        if [ "$(head -c 4 "$path")" != MSCF ]; then
            finding "$name does not begin with MSCF"
        fi
        if [ "$package_ok" = 1 ] && ! in_list "$name" "${named[@]}"; then
            finding "$name is not named by the Media table of $PACKAGE"
        fi
    done
    [ "$package_ok" = 1 ] || return
    for name in "${named[@]}"; do
        [ -f "$payload/$name" ] || finding "$name, named by the Media table, is missing"
    done
}

package_ok=1
check_package || package_ok=0
check_cabinets
[ "$findings" -eq 0 ]
