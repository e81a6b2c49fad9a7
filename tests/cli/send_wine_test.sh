#!/usr/bin/env bash
# kolvane-send.exe under Wine against the virtual device of a Linux build, on COM3, and through
# Debian's ser2net on 127.0.0.1, raw and RFC 2217; then kolvane-serve.exe serving COM3, called
# over HTTP and TCP from Linux through 127.0.0.1.
#
#   send_wine_test.sh WINE_RUN KOLVANE_SEND_EXE KOLVANE_SIM KOLVANE_SERVE_EXE
set -euo pipefail

WINE_RUN=$1
SEND=$2
SIM=$3
SERVE=$4
work=$(mktemp -d)
serve_pid=
extra_pids=()
stop() {
    for pid in "${extra_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    # kolvane-serve.exe runs in a process group of its own, so that Wine goes with it.
    [ -z "$serve_pid" ] || kill -- "-$serve_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap stop EXIT

fail() {
    echo "FAIL: $*" >&2
    [ ! -s "$work/serve.err" ] || sed 's/^/  serve: /' "$work/serve.err" >&2
    exit 1
}

# start_sim OUT: starts a virtual device writing to OUT; its terminal's path goes to $device.
start_sim() {
    "$SIM" >"$1" 2>&1 &
    extra_pids+=($!)
    device=
    for _ in $(seq 100); do
        device=$(sed -n 's/^kolvane-sim: device on \([^ ]*\).*/\1/p' "$1")
        [ -n "$device" ] && break
        sleep 0.05
    done
    [ -n "$device" ] || fail "the simulator did not start: $(cat "$1")"
}

start_sim "$work/sim.out"
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

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
start_sim "$work/sim2.out"
raw=$(free_port)
telnet=$(free_port)
cat >"$work/ser2net.yaml" <<EOF
connection: &raw
  accepter: tcp,127.0.0.1,$raw
  connector: serialdev,$device,9600n81,local
connection: &telnet
  accepter: telnet(rfc2217),tcp,127.0.0.1,$telnet
  connector: serialdev,$device,9600n81,local
EOF
ser2net -n -d -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >"$work/ser2net.log" 2>&1 &
extra_pids+=($!)
# Listening, asked of the kernel: a connection would make ser2net open the device.
for _ in $(seq 100); do
    grep -q ":$(printf %04X "$telnet") 00000000:0000 0A" /proc/net/tcp && break
    sleep 0.05
done
expect 0 KEY_POWER_ON/OFF --port "socket://127.0.0.1:$raw" --wait 1000 power
expect 0 $'KEY_POWER_ON/OFF\n_IR_KEY_4CH_Show' --port "rfc2217://127.0.0.1:$telnet" \
    --baud 19200 --wait 1000 power 4CH_Show
expect 3 "" --port "socket://127.0.0.1:$(free_port)" power
grep -q refused "$work/err" || fail "no reason for a refusal: $(cat "$work/err")"

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
