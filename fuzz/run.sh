#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while on a scratch copy of its
# committed seeds, as many at a time as there are cores. Prints each target's figures; exits
# non-zero when a target crashes or fails a check, with the input that did it kept under
# <build dir>/artifacts/.
#
#   fuzz/run.sh [BUILD_DIR [SECONDS [TARGET...]]]     (defaults: build-fuzz, 60, all)
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DIR="${1:-$ROOT/build-fuzz}"
SECONDS_EACH="${2:-60}"
TARGETS=("${@:3}")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(fuzz_receive fuzz_int_text fuzz_port_name fuzz_jpeg fuzz_owner_protocol fuzz_api_request fuzz_telnet)

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKOLVANE_FUZZ=ON -DKOLVANE_TESTS=OFF >/dev/null
cmake --build "$DIR" --target kolvane_fuzzers --parallel "$(nproc)"

run_target() {
    local target=$1
    local work="$DIR/corpus/$target"
    # New inputs go to the scratch directory; the committed seeds are only read.
    rm -rf "$work"
    mkdir -p "$work" "$DIR/logs" "$DIR/artifacts"
    rm -f "$DIR/artifacts/$target-"*
    if [ "$target" = fuzz_jpeg ]; then
        cp "$ROOT/resources/remote.jpg" "$work/"
    fi
    # A single input running 25 s would freeze the window just as long: that fails too.
    "$DIR/fuzz/$target" -max_total_time="$SECONDS_EACH" -timeout=25 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$DIR/artifacts/$target-" \
        "$work" "$ROOT/fuzz/corpus/$target" >"$DIR/logs/$target.log" 2>&1
}

echo "Fuzzing ${TARGETS[*]} for ${SECONDS_EACH} s each"
declare -A STATUS
jobs_at_once=$(nproc)
for ((i = 0; i < ${#TARGETS[@]}; i += jobs_at_once)); do
    declare -A PIDS=()
    for target in "${TARGETS[@]:i:jobs_at_once}"; do
        run_target "$target" &
        PIDS[$target]=$!
    done
    for target in "${!PIDS[@]}"; do
        status=0
        wait "${PIDS[$target]}" || status=$?
        STATUS[$target]=$status
    done
    unset PIDS
done

failed=0
printf '%-16s %-7s %10s %8s %6s %7s\n' target result runs exec/s cov ft
for target in "${TARGETS[@]}"; do
    log="$DIR/logs/$target.log"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    # The last status line libFuzzer printed carries the final coverage figures.
    last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    result=ok
    if [ "${STATUS[$target]}" -ne 0 ]; then
        result=CRASH
        failed=1
    fi
    printf '%-16s %-7s %10s %8s %6s %7s\n' "$target" "$result" "${runs:-?}" "${rate:-?}" \
        "${cov:-?}" "${ft:-?}"
done

for target in "${TARGETS[@]}"; do
    if [ "${STATUS[$target]}" -ne 0 ]; then
        echo
        echo "== $target failed (exit ${STATUS[$target]}); end of its log:"
        tail -n 60 "$DIR/logs/$target.log"
        ls -1 "$DIR/artifacts/$target-"* 2>/dev/null | sed 's/^/kept input: /' || true
    fi
done
exit "$failed"
