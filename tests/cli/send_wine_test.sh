#!/usr/bin/env bash
# kolvane-send.exe under Wine against the virtual device of a Linux build, on COM3.
#
#   send_wine_test.sh WINE_RUN KOLVANE_SEND_EXE KOLVANE_SIM
set -euo pipefail

WINE_RUN=$1
SEND=$2
SIM=$3
work=$(mktemp -d)
sim_pid=
trap '[ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null; wait; rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$SIM" >"$work/sim.out" 2>&1 &
sim_pid=$!
device=
for _ in $(seq 100); do
    device=$(sed -n 's/^kolvane-sim: device on \([^ ]*\).*/\1/p' "$work/sim.out")
    [ -n "$device" ] && break
    sleep 0.05
done
[ -n "$device" ] || fail "the simulator did not start: $(cat "$work/sim.out")"
export KOLVANE_WINE_COM3=$device

# expect STATUS STDOUT ARG...: the exit status and, without the console's carriage returns,
# what it printed.
expect() {
    local status=$1 output=$2 got=0
    shift 2
    "$WINE_RUN" "$SEND" "$@" >"$work/out" 2>"$work/err" || got=$?
    [ "$got" = "$status" ] || fail "kolvane-send.exe $*: exit $got, not $status: $(cat "$work/err")"
    [ "$(tr -d '\r' <"$work/out")" = "$output" ] ||
        fail "kolvane-send.exe $*: printed $(cat "$work/out")"
}

expect 0 $'KEY_POWER_ON/OFF\n_IR_KEY_4CH_Show' --port COM3 --wait 1000 power 4CH_Show
expect 0 COM3 --search
expect 3 "" --port COM5 power
grep -q 'cannot open COM5' "$work/err" || fail "no reason for COM5: $(cat "$work/err")"
expect 2 "" --port COM3 pwer
echo "PASS"
