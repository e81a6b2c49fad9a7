#!/usr/bin/env bash
# kolvane-serve against the virtual device: a port that appears late, kolvane-send through it,
# the signals that stop it, --no-retry and the command line. port_keeper_test has the device
# going and coming back.
#
#   serve_test.sh KOLVANE_SERVE KOLVANE_SEND KOLVANE_SIM VERSION
set -euo pipefail

SERVE=$1
SEND=$2
SIM=$3
VERSION=$4
work=$(mktemp -d)
sim_pid=
serve_pid=
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
ports=$XDG_CONFIG_HOME/kolvane/ports
mkdir -p "$ports"
# No COM name may lead to a real port of the machine.
for n in $(seq 1 20); do
    ln -s "$work/nothing$n" "$ports/com$n"
done

fail() {
    echo "FAIL: $*" >&2
    for log in sim.out serve.err; do
        [ ! -s "$work/$log" ] || sed "s/^/  $log: /" "$work/$log" >&2
    done
    exit 1
}

stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
}
trap 'stop_sim; [ -z "$serve_pid" ] || kill "$serve_pid" 2>/dev/null; rm -rf "$work"' EXIT

# until_true SECONDS WHAT COMMAND...: runs COMMAND until it succeeds, or fails the test.
until_true() {
    local tries=$(($1 * 20)) what=$2
    shift 2
    for _ in $(seq "$tries"); do
        "$@" && return
        sleep 0.05
    done
    fail "$what"
}

said() {
    [ "$(cat "$work/serve.err")" = "$(printf '%s\n' "$@")" ]
}

start_sim() {
    : >"$work/sim.out"
    "$SIM" --as COM6 >>"$work/sim.out" 2>&1 &
    sim_pid=$!
    until_true 5 "the simulator did not start" grep -q ' as COM6$' "$work/sim.out"
}

start_serve() {
    : >"$work/serve.err"
    "$SERVE" --port COM6 2>"$work/serve.err" &
    serve_pid=$!
}

missing="cannot open COM6 ($work/nothing6): No such file or directory; trying again"
opened="opened COM6"

# Missing at the start: said once over two retries, then opened soon after it appears.
start_serve
sleep 4.5
said "kolvane-serve: $missing" || fail "not one line for a missing port"
start_sim
until_true 5 "the port was not opened once it appeared" grep -q "$opened" "$work/serve.err"
said "kolvane-serve: $missing" "kolvane-serve: $opened" || fail "not one line per change"

[ "$("$SEND" --status --port COM6)" = "COM6 is held by kolvane-serve $VERSION (process $serve_pid)" ] ||
    fail "--status: $("$SEND" --status --port COM6)"
[ "$("$SEND" --port COM6 --wait 1000 power 1ch)" = $'KEY_POWER_ON/OFF\n_IR_KEY_1CH_Show' ] ||
    fail "kolvane-send did not get the answers through kolvane-serve"
[ "$(grep -c '^rx' "$work/sim.out")" = 2 ] || fail "the device got: $(cat "$work/sim.out")"

# Either signal closes the port and ends it with 0, saying nothing more.
for signal in TERM INT; do
    if [ "$signal" = INT ]; then
        start_serve
        until_true 5 "not opened" grep -q "$opened" "$work/serve.err"
    fi
    kill -s "$signal" "$serve_pid"
    status=0
    wait "$serve_pid" || status=$?
    serve_pid=
    [ "$status" = 0 ] || fail "SIG$signal: exit $status"
    [ "$(tail -n 1 "$work/serve.err")" = "kolvane-serve: $opened" ] || fail "SIG$signal: said more"
    [ "$("$SEND" --status --port COM6)" = "no program holds COM6" ] ||
        fail "SIG$signal: still served"
    "$SEND" --port COM6 power >/dev/null || fail "SIG$signal: the port was left held"
done

# expect STATUS OUTPUT STDERR ARG...: the exit status, standard output, standard error.
expect() {
    local status=$1 out=$2 err=$3 got=0
    shift 3
    "$SERVE" "$@" >"$work/out" 2>"$work/err" || got=$?
    [ "$got" = "$status" ] || fail "kolvane-serve $*: exit $got, not $status: $(cat "$work/err")"
    [ "$(cat "$work/out")" = "$out" ] || fail "kolvane-serve $*: printed $(cat "$work/out")"
    [ "$(cat "$work/err")" = "$err" ] || fail "kolvane-serve $*: said $(cat "$work/err")"
}
expect 3 "" "kolvane-serve: cannot open COM7 ($work/nothing7): No such file or directory" \
    --no-retry --port COM7
expect 2 "" "kolvane-serve: unknown option --bogus" --bogus
expect 0 "kolvane-serve $VERSION" "" --version
echo "PASS"
