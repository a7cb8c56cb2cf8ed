#!/bin/bash
# make bench: staging speed, size and memory of the installer, and the time
# until the kit is installed, each against a floor or a peer installer run in
# the same round. A round runs ours, the peer and the floors back to back, in
# an order that alternates from round to round, several times over; a
# side's figure of the round is the median of its runs there, so that one run
# slowed by something else on the machine moves no ratio, and every ratio is
# taken within its round. Before every timed run the caches are brought to the
# same state (the program's image read once, the previous output removed,
# dirty pages written back and settled). Builds what it needs under
# build/bench, runs everything in one throwaway Wine prefix with its own
# wineserver, and prints one table. It reports; it never fails a test run and
# is not part of `make test`.
#   BENCH_RUNS=<n>     measured rounds after the warm-up (default 11, at least 11)
#   BENCH_REPEATS=<n>  runs of each side in one round of the staging figures
#                      (default 3, at least 1)
#   BENCH_INSTALL_REPEATS=<n>
#                      the same for the full installs (default 5, at least 1:
#                      a whole install spreads more from run to run)
#   BENCH_SETTLE=<s>   seconds to wait after the write-back before a timed run (0.3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/profile.sh"
profile_load # the names of the default version: kit folder, package, vendor, payload keys
bench="$root/build/bench"
runs=${BENCH_RUNS:-11}
[ "$runs" -ge 11 ] 2>/dev/null || runs=11
repeats=${BENCH_REPEATS:-3}
[ "$repeats" -ge 1 ] 2>/dev/null || repeats=3
install_repeats=${BENCH_INSTALL_REPEATS:-5}
[ "$install_repeats" -ge 1 ] 2>/dev/null || install_repeats=5
settle_seconds=${BENCH_SETTLE:-0.3}
sizes=(8 72 256)        # megabytes of cabinets of the staging figures
kits=("72 large" "256 huge") # megabytes of cabinets and sample variant of the full installs
mkdir -p "$bench/tools"
log="$bench/build.log"
: >"$log"

step() { echo "== $*" >&2; }

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
}

build() {
    step "payloads (seeded; reused when unchanged)"
    /usr/bin/python3 "$root/bench/make_payloads.py" "$bench/payloads"

    step "bench programs"
    local cxx=x86_64-w64-mingw32-g++-posix flags=(-O2 -Wall -Wextra -Werror -static -s -D__USE_MINGW_ANSI_STDIO=0)
    "$cxx" "${flags[@]}" -mwindows "$root/bench/stand_in.cpp" -o "$bench/tools/msiexec.exe"
    "$cxx" "${flags[@]}" -mwindows "$root/bench/floor.cpp" -o "$bench/tools/floor.exe"
    "$cxx" "${flags[@]}" -municode "$root/bench/launch.cpp" -o "$bench/tools/launch.exe" -lpsapi
    "$cxx" "${flags[@]}" "$root/bench/chunk_probe.cpp" -o "$bench/tools/chunk_probe.exe"
    g++ -O2 -Wall -Wextra -std=c++17 -I"$root" "$root/bench/write_loop.cpp" "$root/staging/chunks.cpp" \
        -o "$bench/tools/write_loop"

    local n kit variant sources
    for n in "${sizes[@]}"; do
        step "installer and peer around the ${n} MB payload"
        INSTALLER_BUILD_DIR="$bench/installer-$n" \
            "$root/tools/build-installer.sh" "$root" "$bench/payloads/${n}mb" "$bench/pmx-$n.exe" >>"$log"
        makensis -V1 -DPAYLOAD="$bench/payloads/${n}mb" -DOUT="$bench/peer-$n.exe" \
            -DPACKAGE="$PROFILE_PACKAGE_FILE" -DKIT_FOLDER="$PROFILE_KIT_FOLDER" "$root/bench/peer.nsi" >>"$log"
    done

    for kit in "${kits[@]}"; do
        read -r n variant <<<"$kit"
        step "the sample kit with $n MB of cabinets, the installer and the peer around it"
        # Rebuilt only when the sample's sources changed: the 256 MB kit takes minutes.
        sources=$(cat "$root/sample"/* | sha1sum)
        if [ "$(cat "$bench/kit-$n.sources" 2>/dev/null)" != "$sources $variant" ]; then
            "$root/sample/build-payload.sh" "$bench/kit-$n" "$variant" >>"$log"
            echo "$sources $variant" >"$bench/kit-$n.sources"
        fi
        INSTALLER_BUILD_DIR="$bench/installer-kit-$n" \
            "$root/tools/build-installer.sh" "$root" "$bench/kit-$n" "$bench/kit-$n.exe" >>"$log"
        makensis -V1 -DPAYLOAD="$bench/kit-$n" -DOUT="$bench/peer-kit-$n.exe" -DPACKAGE="$PROFILE_PACKAGE_FILE" \
            -DKIT_FOLDER="$PROFILE_KIT_FOLDER" -DKIT_KEY="$PROFILE_KIT_KEY" "$root/bench/peer-kit.nsi" >>"$log"
    done
}

# Where each side writes, in the prefix; the stand-in engine as msiexec.exe.
place_files() {
    drive_c="$prefix/drive_c"
    mkdir -p "$drive_c/bench/stamps" "$drive_c/bench/copies"
    prefix_engine benchengine "$bench/tools/msiexec.exe" >/dev/null 2>&1
    local user
    user=$(prefix_user)
    kit_dir="$drive_c/users/$user/AppData/LocalLow/Qel/Orva/$PROFILE_KIT_FOLDER"
    peer_dir="$drive_c/users/$user/AppData/Local/BenchPeer"
    floor_dir="$drive_c/bench/floor"
}

set_installer_location() {
    wine reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer' /v InstallerLocation \
        /t REG_SZ /d "$1" /f </dev/null >/dev/null 2>&1
}

# Brings the caches to the same state before a timed run: the previous output
# removed, the program's image read once, dirty pages written back, then a
# pause so that the write-back's own work is over.
# prepare <image> <folders to remove...>
prepare() {
    local image=$1
    shift
    rm -rf "$@"
    cat "$image" >/dev/null
    sync
    sleep "$settle_seconds"
}

# launch <stamps name> [--event-set|--watch-event] <windows program path> [arguments]
launch() {
    local name=$1
    shift
    rm -f "$drive_c/bench/stamps/$name.txt"
    wine "$bench/tools/launch.exe" "C:\\bench\\stamps\\$name.txt" "$@" </dev/null >/dev/null 2>&1 || true
}

win() { winepath -w "$1"; }

# The timed runs of the staging figures, one of each kind: <size> <run tag>.
run_ours() {
    prepare "$bench/pmx-$1.exe" "$kit_dir"
    launch "ours$1-$2" "$(win "$bench/pmx-$1.exe")"
}
run_peer() {
    prepare "$bench/peer-$1.exe" "$peer_dir"
    launch "peer$1-$2" --event-set "$(win "$bench/peer-$1.exe")"
}
# Floor of start to event set: the package and the cabinets written from the
# installer's mapped image in 8192-byte calls, nothing else.
run_floor() {
    prepare "$bench/pmx-$1.exe" "$floor_dir"
    mkdir "$floor_dir"
    # shellcheck disable=SC2086 # one argument per payload file
    launch "floor$1-$2" "$(win "$bench/tools/floor.exe")" "$(win "$bench/pmx-$1.exe")" 'C:\bench\floor' - \
        $PROFILE_PAYLOAD
}
# Floor of start to engine start: the package written the same way, then the
# trivial engine started on it (two process starts and the package bytes).
run_floor_engine() {
    prepare "$bench/pmx-$1.exe" "$floor_dir"
    mkdir "$floor_dir"
    launch "floorengine$1-$2" --event-set "$(win "$bench/tools/floor.exe")" "$(win "$bench/pmx-$1.exe")" \
        'C:\bench\floor' 'C:\benchengine\msiexec.exe' "${PROFILE_PAYLOAD%% *}"
}
# Reference only: cp of the same files into a fresh folder on the same disk.
run_copy() {
    local target="$drive_c/bench/copies/fresh" start end
    prepare "$bench/pmx-$1.exe" "$target"
    start=$(date +%s%N)
    mkdir "$target" && cp "$bench/payloads/${1}mb"/* "$target/"
    end=$(date +%s%N)
    echo "cp$1-$2 $(((end - start) / 1000))" >>"$bench/results/copies.txt"
}

# Runs the given commands in order on odd rounds and in reverse on even ones,
# <passes> times over; each command gets the run's tag <round>.<pass>. The
# warm-up runs each command once.
alternating() { # <round> <passes> <command>...
    local round=$1 passes=$2 pass i
    shift 2
    local commands=("$@")
    [ "$round" = warmup ] && passes=1
    for ((pass = 1; pass <= passes; pass++)); do
        if [ "$round" = warmup ] || [ $((round % 2)) -eq 1 ]; then
            for ((i = 0; i < ${#commands[@]}; i++)); do ${commands[i]} "$round.$pass"; done
        else
            for ((i = ${#commands[@]} - 1; i >= 0; i--)); do ${commands[i]} "$round.$pass"; done
        fi
    done
}

staging_round() { # <round>
    local n
    for n in "${sizes[@]}"; do
        if [ "$n" = 72 ]; then
            alternating "$1" "$repeats" "run_ours $n" "run_peer $n" "run_floor $n" "run_floor_engine $n" \
                "run_copy $n"
        else
            alternating "$1" "$repeats" "run_ours $n" "run_peer $n" "run_floor $n" "run_copy $n"
        fi
    done
}

# A full silent install of a sample kit by Wine's own msiexec, from the
# installer's start to its exit, then the uninstall of the kit and the runtime
# (product codes from sample/*.wxs) so that the next run installs again.
product_code() { sed -n 's/.*<Product Id="\([^"]*\)".*/{\1}/p' "$root/sample/$1"; }

uninstall_kit() {
    wine msiexec /x "$(product_code kit.wxs)" /qn </dev/null >/dev/null 2>&1 || true
    wine msiexec /x "$(product_code hux.wxs)" /qn </dev/null >/dev/null 2>&1 || true
    wine reg delete "HKLM\\SOFTWARE\\$PROFILE_VENDOR" /f </dev/null >/dev/null 2>&1 || true
}
run_kit_ours() { # <size> <run tag>
    prepare "$bench/kit-$1.exe" "$kit_dir" "$peer_dir"
    launch "kitours$1-$2" --watch-event "$(win "$bench/kit-$1.exe")" /s
    uninstall_kit
}
run_kit_peer() {
    prepare "$bench/peer-kit-$1.exe" "$kit_dir" "$peer_dir"
    launch "kitpeer$1-$2" --event-set "$(win "$bench/peer-kit-$1.exe")"
    uninstall_kit
}
install_round() { # <round>
    local kit n
    for kit in "${kits[@]}"; do
        n=${kit%% *}
        alternating "$1" "$install_repeats" "run_kit_ours $n" "run_kit_peer $n"
    done
}

# The staged files of the last size must be the payload's, byte for byte, on
# every side, and the peer's full install must leave what ours leaves.
check_outputs() {
    local n=${sizes[-1]} file name
    run_ours "$n" check
    run_peer "$n" check
    run_floor "$n" check
    for file in "$bench/payloads/${n}mb"/*; do
        name=$(basename "$file")
        cmp -s "$file" "$kit_dir/$name" || echo "staged_differs ours $name"
        cmp -s "$file" "$peer_dir/$PROFILE_KIT_FOLDER/$name" || echo "staged_differs peer $name"
        cmp -s "$file" "$floor_dir/$name" || echo "staged_differs floor $name"
    done >>"$bench/results/checks.txt"
}

# System calls of one 72 MB staging run, counted by strace over the launcher,
# the installer and the stand-in (the wineserver runs outside it).
count_calls() {
    prepare "$bench/pmx-72.exe" "$kit_dir"
    strace -f -c -o "$bench/results/strace-ours72.txt" \
        wine "$bench/tools/launch.exe" 'C:\bench\stamps\counted-ours72.txt' "$(win "$bench/pmx-72.exe")" \
        </dev/null >/dev/null 2>&1 || true
}

write_probes() {
    cat "$bench/payloads/72mb"/*.cab >"$drive_c/bench/cabinets72.bin"
    "$bench/tools/write_loop" "$drive_c/bench/cabinets72.bin" "$drive_c/bench" >"$bench/results/write_loop.txt"
    wine "$bench/tools/chunk_probe.exe" 'C:\bench\cabinets72.bin' 'C:\bench\scratch.bin' \
        </dev/null 2>/dev/null | tr -d '\r' >>"$bench/results/write_loop.txt" || true
    rm -f "$drive_c/bench/cabinets72.bin"
}

machine() {
    echo "nproc $(nproc)"
    echo "cpu $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
    echo "memory $(awk '/^MemTotal:/ {print int($2 / 1024)}' /proc/meminfo)"
    echo "wine $(wine --version 2>/dev/null)"
    echo "nsis $(makensis -VERSION 2>/dev/null)"
    echo "load_start $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "settle $settle_seconds"
    echo "repeats $repeats"
    echo "install_repeats $install_repeats"
}

main() {
    build
    rm -rf "$bench/results"
    mkdir -p "$bench/results"
    : >"$bench/results/copies.txt"
    : >"$bench/results/checks.txt"
    machine >"$bench/results/machine.txt"
    local began i
    began=$(date +%s)
    make_prefix
    place_files
    step "staging: warm-up, then $runs rounds of $repeats runs of each side"
    staging_round warmup
    for i in $(seq "$runs"); do
        step "staging round $i"
        staging_round "$i"
    done
    step "checks and probes"
    check_outputs
    count_calls
    write_probes
    step "full silent installs of the sample kits: warm-up, then $runs rounds of $install_repeats runs of each side"
    set_installer_location 'C:\windows\system32'
    install_round warmup
    for i in $(seq "$runs"); do
        step "install round $i"
        install_round "$i"
    done
    cp "$drive_c/bench/stamps"/*.txt "$bench/results/"
    echo "load_end $(cut -d' ' -f1-3 /proc/loadavg)" >>"$bench/results/machine.txt"
    echo "measured_seconds $(($(date +%s) - began))" >>"$bench/results/machine.txt"
    finish
    prefix=""
    /usr/bin/python3 "$root/bench/report.py" "$bench" "$runs" "$repeats" "$install_repeats"
}

main
