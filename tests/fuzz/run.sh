#!/bin/bash
# Runs the logic fuzzer for a bounded number of inputs (FUZZ_RUNS, default
# 100000) from a fresh corpus folder: usage: run.sh <fuzzer> <scratch dir>
set -euo pipefail
fuzzer=$1 scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
printf '\x04/s\n/v"/l*v log.txt"\n/lang=1041\n/INSTALLDIRPUBHUX=C:\\p\n' >"$scratch/seed1"
printf '\x11/v"\n/v\n/qn\n/lang=66577\nADDLOCAL=ALL\n' >"$scratch/seed2"
"$fuzzer" -runs="${FUZZ_RUNS:-100000}" -max_len=4096 -seed=1 "$scratch" 2>&1 | tail -n 3
rm -rf "$scratch"
