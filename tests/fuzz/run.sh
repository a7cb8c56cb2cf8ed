#!/bin/bash
# Runs one fuzz target for a bounded number of inputs (FUZZ_RUNS, default
# 20000) after every input of its corpus, from a scratch copy so that the
# corpus in the tree stays as it is: usage: run.sh <fuzzer> <corpus> <scratch>
set -euo pipefail
fuzzer=$1 corpus=$2 scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch/corpus" "$scratch/artifacts"
cp "$corpus"/* "$scratch/corpus/"
status=0
"$fuzzer" -runs="${FUZZ_RUNS:-20000}" -max_len=4096 -seed=1 -artifact_prefix="$scratch/artifacts/" \
    "$scratch/corpus" >"$scratch/log" 2>&1 || status=$?
grep -E '^#[0-9]+[[:space:]]+DONE|^Done' "$scratch/log" || true
if [ "$status" -ne 0 ]; then
    cat "$scratch/log" >&2
    echo "run.sh: the fuzzer failed; the input is kept under $scratch/artifacts" >&2
    exit "$status"
fi
rm -rf "$scratch"
