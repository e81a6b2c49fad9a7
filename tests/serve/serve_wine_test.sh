#!/usr/bin/env bash
# kolvane-serve.exe under Wine serving the virtual device of a Linux build on COM3, called over
# HTTP and TCP from Linux through 127.0.0.1.
#
#   serve_wine_test.sh WINE_RUN KOLVANE_SERVE_EXE KOLVANE_SIM
set -euo pipefail

WINE_RUN=$1
SERVE=$2
SIM=$3
work=$(mktemp -d)
sim_pid=
serve_pid=
stop() {
    [ -z "$serve_pid" ] || kill -- "-$serve_pid" 2>/dev/null || true
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap stop EXIT

fail() {
    echo "FAIL: $*" >&2
    sed 's/^/  serve: /' "$work/serve.err" >&2 || true
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

# In a process group of its own, so that Wine and all it started go with it.
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
