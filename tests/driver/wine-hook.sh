#!/bin/sh
# The Linux side of the driver's steps under Wine: what a Windows program
# cannot do in a prefix (a Unix symbolic link, which Wine shows for a
# junction; a small disk of its own). The driver starts it by its Unix path,
#   /bin/sh wine-hook.sh <verb> <answer file> <argument>...
# with Unix paths for every argument. Wine starts a Unix program without a
# process handle to wait on, so the driver waits for the answer file instead,
# written whole through a temporary file: "ok", "refused: <why>" when this
# machine does not allow it (a mount without the right to mount), or
# "failed: <why>".
#   link <link> <target folder>        <link> becomes a symbolic link to the folder
#   unlink <link>                      the link goes (never what it points to)
#   small-disk <dosdevices> <letter> <size>
#                                      a tmpfs of <size> on a fresh folder,
#                                      linked as <dosdevices>/<letter>: (the
#                                      running wineserver picks it up); a disk
#                                      left by an interrupted run goes first
#   small-disk-off <dosdevices> <letter>
#                                      that drive unlinked, unmounted, removed
#   run <runner.exe> <program> <overrides>
#                                      the runner (tests/tools/runner.cpp) starts
#                                      the program from this side, where Wine
#                                      takes a process's LANG and
#                                      WINEDLLOVERRIDES (given here: Wine passes
#                                      no WINE variable of the driver's
#                                      environment on); the runner's report
#                                      (boxes, exit code) is the answer
set -u
verb=${1:?usage: wine-hook.sh <verb> <answer file> <argument>...}
answer=${2:?answer file}
shift 2

# The folders this hook mounts are named so, and only those are unmounted.
disk_prefix=/tmp/orva-small-disk.

reply() { # <text>
    printf '%s\n' "$1" >"$answer.part" && mv "$answer.part" "$answer"
}

# The drive <dosdevices>/<letter>: when it is one of our small disks: its
# link goes, its tmpfs is unmounted and its folder removed. Anything else
# at that name is left alone.
remove_small_disk() { # <dosdevices> <letter>
    drive="$1/$2:"
    [ -L "$drive" ] || return 0
    folder=$(readlink "$drive")
    case $folder in
    "$disk_prefix"*) ;;
    *) return 0 ;;
    esac
    rm -f "$drive"
    umount "$folder" 2>/dev/null
    rmdir "$folder" 2>/dev/null
    return 0
}

make_small_disk() { # <dosdevices> <letter> <size>
    remove_small_disk "$1" "$2"
    drive="$1/$2:"
    if [ -e "$drive" ] || [ -L "$drive" ]; then
        reply "failed: drive $2: is taken in this prefix ($(readlink "$drive"))"
        return
    fi
    folder=$(mktemp -d "${disk_prefix}XXXXXX") || { reply "failed: no folder for the disk"; return; }
    if ! why=$(mount -t tmpfs -o "size=$3" tmpfs "$folder" 2>&1); then
        rmdir "$folder"
        reply "refused: mount -t tmpfs -o size=$3 is not allowed here: $why"
        return
    fi
    if ! ln -s "$folder" "$drive"; then
        umount "$folder" && rmdir "$folder"
        reply "failed: cannot link $drive"
        return
    fi
    reply ok
}

case $verb in
link)
    if ln -s "$2" "$1" 2>/dev/null; then reply ok; else reply "failed: ln -s $2 $1"; fi
    ;;
unlink)
    if [ ! -L "$1" ]; then
        reply "failed: $1 is no symbolic link"
    elif rm -f "$1"; then
        reply ok
    else
        reply "failed: rm -f $1"
    fi
    ;;
small-disk) make_small_disk "$1" "$2" "$3" ;;
small-disk-off) remove_small_disk "$1" "$2" && reply ok ;;
run)
    # A TMPDIR the case set is the installer's (its log's folder, a Windows
    # path); Wine's own Linux side would take it for its temporary files and
    # fail. The runner hands it to the program alone.
    if [ -n "${TMPDIR:-}" ]; then
        RUNNER_ENV="TMPDIR=$TMPDIR"
        export RUNNER_ENV
        unset TMPDIR
    fi
    WINEDLLOVERRIDES=$3 wine "$1" "$2" </dev/null >"$answer.part" 2>/dev/null
    mv "$answer.part" "$answer"
    ;;
*) reply "failed: unknown verb $verb" ;;
esac
