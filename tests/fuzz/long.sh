#!/bin/bash
# The long fuzz run behind `make fuzz`: every target for FUZZ_EXECS inputs
# (default 10 million), two at a time (FUZZ_PARALLEL), each over a corpus
# kept between runs under <build>/fuzz-long/<target> and seeded from
# tests/fuzz/corpus. Prints executions, coverage and features per target;
# fails when a target finds a fault (its input is kept beside the corpus, to
# be added to tests/fuzz/corpus/<target> as a regression input).
# Usage: long.sh <build dir> <target>...
set -uo pipefail
build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
execs=${FUZZ_EXECS:-10000000}
parallel=${FUZZ_PARALLEL:-2}

run_one() {
    local target=$1 work="$build/fuzz-long/$1"
    mkdir -p "$work/corpus" "$work/artifacts"
    cp -n "$here/corpus/$target"/* "$work/corpus/"
    local start=$SECONDS status=0
    "$build/fuzz/${target}_fuzz" -runs="$execs" -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1 || status=$?
    echo "$status $((SECONDS - start))" >"$work/result"
}

for target in "$@"; do
    run_one "$target" &
    while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do
        wait -n
    done
done
wait

failed=0
printf '%-10s %14s %8s %8s %8s %10s %s\n' target executions cov ft seconds execs/s result
for target in "$@"; do
    work="$build/fuzz-long/$target"
    read -r status seconds <"$work/result"
    units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log" | tail -n 1)
    last=$(grep -E '^#[0-9]+[[:space:]]' "$work/log" | tail -n 1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    result=ok
    if [ "$status" -ne 0 ]; then
        result="FAILED (see $work/log, input in $work/artifacts)"
        failed=1
    fi
    printf '%-10s %14s %8s %8s %8s %10s %s\n' "$target" "${units:-?}" "${cov:-?}" "${ft:-?}" "$seconds" "${rate:-?}" "$result"
done
exit "$failed"
