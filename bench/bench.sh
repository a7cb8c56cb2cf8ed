#!/bin/bash
# make bench: staging speed, size and memory of the installer, side by side
# with the floor (a trivial program's start under the same Wine plus `cp` of
# the same bytes) and a peer installer around the same files. Builds what it
# needs under build/bench, runs every figure in one throwaway Wine prefix with
# its own wineserver, and prints one table. It reports; it never fails a test
# run and is not part of `make test`.
#   BENCH_RUNS=<n>   measured rounds after the warm-up (default 7, at least 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/profile.sh"
profile_load # the names of the default version: kit folder, package, vendor
bench="$root/build/bench"
runs=${BENCH_RUNS:-7}
[ "$runs" -ge 5 ] 2>/dev/null || runs=5
sizes=(8 72 256)
mkdir -p "$bench/tools"
log="$bench/build.log"
: >"$log"

step() { echo "== $*" >&2; }

build() {
    step "payloads (seeded; reused when unchanged)"
    /usr/bin/python3 "$root/bench/make_payloads.py" "$bench/payloads"

    step "bench programs"
    local cxx=x86_64-w64-mingw32-g++-posix flags=(-O2 -Wall -Wextra -Werror -static -s -D__USE_MINGW_ANSI_STDIO=0)
    "$cxx" "${flags[@]}" -mwindows "$root/bench/stand_in.cpp" -o "$bench/tools/msiexec.exe"
    "$cxx" "${flags[@]}" -municode "$root/bench/launch.cpp" -o "$bench/tools/launch.exe" -lpsapi
    "$cxx" "${flags[@]}" "$root/bench/chunk_probe.cpp" -o "$bench/tools/chunk_probe.exe"
    g++ -O2 -Wall -Wextra -std=c++17 -I"$root" "$root/bench/write_loop.cpp" "$root/staging/chunks.cpp" \
        -o "$bench/tools/write_loop"

    local n
    for n in "${sizes[@]}"; do
        step "installer and peer around the ${n} MB payload"
        INSTALLER_BUILD_DIR="$bench/installer-$n" \
            "$root/tools/build-installer.sh" "$root" "$bench/payloads/${n}mb" "$bench/pmx-$n.exe" >>"$log"
        makensis -V1 -DPAYLOAD="$bench/payloads/${n}mb" -DOUT="$bench/peer-$n.exe" \
            -DPACKAGE="$PROFILE_PACKAGE_FILE" -DKIT_FOLDER="$PROFILE_KIT_FOLDER" "$root/bench/peer.nsi" >>"$log"
    done

    step "the large sample kit and the installer around it"
    "$root/sample/build-payload.sh" "$bench/kit-large" large >>"$log"
    INSTALLER_BUILD_DIR="$bench/installer-kit" \
        "$root/tools/build-installer.sh" "$root" "$bench/kit-large" "$bench/kit-large.exe" >>"$log"
}

# The prefix and its server live only for this run (tests/wine/prefix.sh).
. "$root/tests/wine/prefix.sh"
prefix=""
finish() { prefix_finish; unset WINEPREFIX; }

make_prefix() {
    step "Wine prefix"
    unset DISPLAY # nothing here needs a screen; a box would return at once
    prefix_throwaway orva-bench
    prefix=$WINEPREFIX
    prefix_start
    drive_c="$prefix/drive_c"
    mkdir -p "$drive_c/bench/stamps" "$drive_c/bench/copies"
    prefix_engine benchengine "$bench/tools/msiexec.exe" >/dev/null 2>&1
    local user
    user=$(prefix_user)
    kit_dir="$drive_c/users/$user/AppData/LocalLow/Qel/Orva/$PROFILE_KIT_FOLDER"
    peer_dir="$drive_c/users/$user/AppData/Local/BenchPeer"
}

# launch <stamps name> [--event-set] <windows program path>
launch() {
    local name=$1
    shift
    rm -f "$drive_c/bench/stamps/$name.txt"
    sync
    wine "$bench/tools/launch.exe" "C:\\bench\\stamps\\$name.txt" "$@" </dev/null >/dev/null 2>&1 || true
}

# copy_timed <name> <files...>: cp into a fresh folder on the same disk.
copy_timed() {
    local name=$1 target="$drive_c/bench/copies/fresh" start end
    shift
    rm -rf "$target"
    sync
    start=$(date +%s%N)
    mkdir "$target" && cp "$@" "$target/"
    end=$(date +%s%N)
    echo "$name $(((end - start) / 1000))" >>"$bench/results/copies.txt"
    rm -rf "$target"
}

one_round() { # <round name>
    local round=$1 n
    launch "trivial-$round" --event-set 'C:\benchengine\msiexec.exe'
    copy_timed "package-$round" "$bench/payloads/72mb/$PROFILE_PACKAGE_FILE"
    for n in "${sizes[@]}"; do
        copy_timed "all$n-$round" "$bench/payloads/${n}mb"/*
    done
    for n in "${sizes[@]}"; do
        rm -rf "$kit_dir"
        launch "ours$n-$round" "$(winepath -w "$bench/pmx-$n.exe")"
        rm -rf "$peer_dir"
        launch "peer$n-$round" --event-set "$(winepath -w "$bench/peer-$n.exe")"
    done
}

# A full silent install of the large sample kit by Wine's own msiexec, then
# its uninstall (kit and runtime, product codes from sample/*.wxs) so that the
# next round installs again.
product_code() { sed -n 's/.*<Product Id="\([^"]*\)".*/{\1}/p' "$root/sample/$1"; }

full_install_round() { # <round name>
    local installer_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer'
    wine reg add "$installer_key" /v InstallerLocation /t REG_SZ /d 'C:\windows\system32' /f \
        </dev/null >/dev/null 2>&1
    rm -rf "$kit_dir"
    launch "kit-$1" --watch-event "$(winepath -w "$bench/kit-large.exe")" /s
    wine msiexec /x "$(product_code kit.wxs)" /qn </dev/null >/dev/null 2>&1 || true
    wine msiexec /x "$(product_code hux.wxs)" /qn </dev/null >/dev/null 2>&1 || true
    wine reg delete "HKLM\\SOFTWARE\\$PROFILE_VENDOR" /f </dev/null >/dev/null 2>&1 || true
    wine reg add "$installer_key" /v InstallerLocation /t REG_SZ /d 'C:\benchengine' /f \
        </dev/null >/dev/null 2>&1
}

# The staged files of the last run must be the payload's, byte for byte.
check_staged() {
    local n=${sizes[-1]} file
    rm -rf "$kit_dir" "$peer_dir"
    launch "check-ours" "$(winepath -w "$bench/pmx-$n.exe")"
    launch "check-peer" --event-set "$(winepath -w "$bench/peer-$n.exe")"
    for file in "$bench/payloads/${n}mb"/*; do
        cmp -s "$file" "$kit_dir/$(basename "$file")" || echo "staged_differs ours $(basename "$file")"
        cmp -s "$file" "$peer_dir/$PROFILE_KIT_FOLDER/$(basename "$file")" || echo "staged_differs peer $(basename "$file")"
    done >>"$bench/results/checks.txt"
}

# System calls of one 72 MB staging run, counted by strace over the launcher,
# the installer and the stand-in (the wineserver runs outside it).
count_calls() {
    rm -rf "$kit_dir"
    sync
    strace -f -c -o "$bench/results/strace-ours72.txt" \
        wine "$bench/tools/launch.exe" 'C:\bench\stamps\counted-ours72.txt' "$(winepath -w "$bench/pmx-72.exe")" \
        </dev/null >/dev/null 2>&1 || true
}

machine() {
    echo "nproc $(nproc)"
    echo "cpu $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
    echo "memory $(awk '/^MemTotal:/ {print int($2 / 1024)}' /proc/meminfo)"
    echo "wine $(wine --version 2>/dev/null)"
    echo "nsis $(makensis -VERSION 2>/dev/null)"
    echo "load_start $(cut -d' ' -f1-3 /proc/loadavg)"
}

main() {
    build
    rm -rf "$bench/results"
    mkdir -p "$bench/results"
    : >"$bench/results/copies.txt"
    : >"$bench/results/checks.txt"
    machine >"$bench/results/machine.txt"
    make_prefix
    step "warm-up, then $runs rounds"
    one_round warmup
    local i
    for i in $(seq "$runs"); do
        step "round $i"
        one_round "$i"
    done
    step "full silent installs of the large kit: warm-up, then $runs"
    full_install_round warmup
    for i in $(seq "$runs"); do
        full_install_round "$i"
    done
    step "checks"
    check_staged
    count_calls
    cat "$bench/payloads/72mb"/*.cab >"$drive_c/bench/cabinets72.bin"
    "$bench/tools/write_loop" "$drive_c/bench/cabinets72.bin" "$drive_c/bench" >"$bench/results/write_loop.txt"
    wine "$bench/tools/chunk_probe.exe" 'C:\bench\cabinets72.bin' 'C:\bench\scratch.bin' \
        </dev/null 2>/dev/null | tr -d '\r' >>"$bench/results/write_loop.txt" || true
    rm -f "$drive_c/bench/cabinets72.bin"
    cp "$drive_c/bench/stamps"/*.txt "$bench/results/"
    echo "load_end $(cut -d' ' -f1-3 /proc/loadavg)" >>"$bench/results/machine.txt"
    finish
    prefix=""
    /usr/bin/python3 "$root/bench/report.py" "$bench" "$runs"
}

main
