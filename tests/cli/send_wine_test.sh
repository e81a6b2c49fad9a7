#!/usr/bin/env bash
# kolvane-send.exe under Wine against the virtual device of a Linux build, on COM3; then
# kolvane-serve.exe serving it, called over HTTP and TCP from Linux through 127.0.0.1.
#
#   send_wine_test.sh WINE_RUN KOLVANE_SEND_EXE KOLVANE_SIM KOLVANE_SERVE_EXE
set -euo pipefail

WINE_RUN=$1
SEND=$2
SIM=$3
SERVE=$4
work=$(mktemp -d)
sim_pid=
serve_pid=
stop() {
    # kolvane-serve.exe runs in a process group of its own, so that Wine goes with it.
    [ -z "$serve_pid" ] || kill -- "-$serve_pid" 2>/dev/null || true
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap stop EXIT

fail() {
    echo "FAIL: $*" >&2
    [ ! -s "$work/serve.err" ] || sed 's/^/  serve: /' "$work/serve.err" >&2
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

setsid "$WINE_RUN" "$SERVE" --port COM3 --http 127.0.0.1:0 --tcp 127.0.0.1:0 \
    >/dev/null 2>"$work/serve.err" &
serve_pid=$!
http= tcp=
for _ in $(seq 600); do
    http=$(tr -d '\r' <"$work/serve.err" | sed -n 's#.*HTTP API on http://127.0.0.1:\([0-9]*\)/.*#\1#p')
    tcp=$(tr -d '\r' <"$work/serve.err" | sed -n 's#.*TCP lines on 127.0.0.1:\([0-9]*\)$#\1#p')
    grep -q "opened COM3" "$work/serve.err" && [ -n "$http" ] && [ -n "$tcp" ] && break
    sleep 0.1
done
[ -n "$http" ] && [ -n "$tcp" ] || fail "kolvane-serve.exe did not start serving"

got=$(curl -s --max-time 10 -X POST "http://127.0.0.1:$http/api/v1/keys/power?wait=1000")
[[ "$got" == *'"answer":"KEY_POWER_ON/OFF"'* ]] || fail "POST keys/power: $got"
status=$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 -H 'Origin: http://example.com' \
    -X POST "http://127.0.0.1:$http/api/v1/keys/power")
[ "$status" = 403 ] || fail "a web page's request got $status"
got=$(python3 -c '
import socket, sys
with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=10) as s:
    s.sendall(b"4ch_show\n")
    print(s.makefile().readline().strip())
' "$tcp")
[ "$got" = _IR_KEY_4CH_Show ] || fail "TCP 4ch_show: $got"
echo "PASS"
