#!/usr/bin/env bash
# kolvane-send against the virtual device: every key, the search, and each exit status.
#
#   send_test.sh KOLVANE_SEND KOLVANE_SIM KEYS_TSV
set -euo pipefail

SEND=$1
SIM=$2
KEYS=$3
work=$(mktemp -d)
sim_pid=
export XDG_CONFIG_HOME=$work/config
ports=$XDG_CONFIG_HOME/kolvane/ports
mkdir -p "$ports"
# No COM name may lead to a real port of the machine: COM1 would be its console.
for n in $(seq 1 20); do
    ln -s "$work/nothing$n" "$ports/com$n"
done

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

stop_sim() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
}
trap 'stop_sim; rm -rf "$work"' EXIT

start_sim() {
    stop_sim
    # Appended to, so that the tests can empty it while it runs.
    : >"$work/sim.out"
    "$SIM" --as COM6 "$@" >>"$work/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do
        grep -q ' as COM6$' "$work/sim.out" && return
        sleep 0.05
    done
    fail "the simulator did not start: $(cat "$work/sim.out")"
}

# expect STATUS STDERR_PATTERN ARG...: the exit status, and standard error empty (for an
# empty pattern) or one line that matches.
expect() {
    local status=$1 pattern=$2 got=0
    shift 2
    "$SEND" "$@" >"$work/out" 2>"$work/err" || got=$?
    local err
    err=$(cat "$work/err")
    [ "$got" = "$status" ] || fail "kolvane-send $*: exit $got, not $status: $err"
    if [ -z "$pattern" ]; then
        [ -z "$err" ] || fail "kolvane-send $*: $err"
    else
        [ "$(wc -l <"$work/err")" = 1 ] && grep -q -- "$pattern" "$work/err" ||
            fail "kolvane-send $*: not one line like \"$pattern\": $err"
    fi
}

start_sim
hints=()
expected=
while IFS=$'\t' read -r _ _ _ hint command _ received; do
    [ -n "$command" ] || continue
    hints+=("$hint")
    expected+="{\"key\":\"$hint\",\"sent\":\"$command\\n\",\"answer\":\"$received\","$'\n'
done < <(sed -n '/^[0-9]/p' "$KEYS")
[ "${#hints[@]}" = 20 ] || fail "the key table has ${#hints[@]} keys with a command"
expect 0 "" --json --wait 1000 "${hints[@]}"
[ "$(sed 's/"ms":[0-9]*}$//' "$work/out")" = "${expected%$'\n'}" ] ||
    fail "answers differ: $(cat "$work/out")"

expect 0 "" --port COM6 --wait 1000 power 4CH_Show
[ "$(cat "$work/out")" = $'KEY_POWER_ON/OFF\n_IR_KEY_4CH_Show' ] || fail "got $(cat "$work/out")"

# Answers that cannot be printed are a failure, and never go to the port instead.
: >"$work/sim.out"
status=0
"$SEND" --wait 1000 power >&- 2>"$work/err" || status=$?
[ "$status" = 1 ] && grep -q 'cannot write the output' "$work/err" ||
    fail "closed output: exit $status: $(cat "$work/err")"
sleep 0.3
[ "$(grep -c '^rx' "$work/sim.out")" = 1 ] || fail "the device got: $(cat "$work/sim.out")"

expect 0 "" --search
[ "$(cat "$work/out")" = COM6 ] || fail "the search found $(cat "$work/out")"

: >"$work/sim.out"
expect 2 'unknown key "powr"; nearest: POWER_ON/OFF' power powr
expect 2 'reserved key' power '#6'
sleep 0.3
! grep -q '^rx' "$work/sim.out" || fail "a refused command line reached the device"

touch "$work/file"
expect 3 "cannot open $work/file: .*(not a serial port)" --port "$work/file" power
expect 3 'cannot open COM7 (.*): No such file or directory' --port COM7 power
flock "$(readlink "$ports/com6")" sleep 3 &
sleep 0.3
expect 3 'cannot open COM6 (.*(another program is using it)' power
wait $!

start_sim --silent
expect 1 'no answer to POWER_ON/OFF from COM6 within 300 ms$' --json power 1ch
[ "$(sed 's/"ms":[0-9]*}$//' "$work/out")" = '{"key":"POWER_ON/OFF","sent":"G45g\n","answer":null,' ] ||
    fail "got $(cat "$work/out")"
start_sim --flood 11520
expect 1 'the device was still sending' power
start_sim --vanish-after 600
expect 1 'COM6 has gone' --wait 1000 power 1ch 2ch 3ch 4ch_show power 1ch 2ch 3ch

stop_sim
expect 1 'no device answered' --search
echo "PASS"
