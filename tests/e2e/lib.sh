# shellcheck shell=bash disable=SC2034  # the layout and results are for run_e2e.sh
# Shared by the end-to-end scenarios (sourced by run_e2e.sh): a private X display, the
# program and the simulator in a throwaway config directory, input through xdotool, and the
# log read back the way a person would copy it out: select all, copy, paste (xclip).
#
# Expects KOLVANE, KOLVANE_SIM and CLOSE_WINDOW to be set by the caller.

set -euo pipefail

readonly WAIT_SECONDS=${E2E_WAIT_SECONDS:-10}
# Screen pixels to a layout pixel: the program's own scale factor, a whole number here.
readonly SCALE=${QT_SCALE_FACTOR:-1}

# Controls as laid out in the window: left top width height.
readonly SWITCH="416 8 86 25"
readonly PORT_BOX="368 10 49 21"
readonly SEARCH="256 8 110 25"
readonly LOG="248 32 257 449"
readonly CLEAR="248 496 75 25"
readonly SEND_BOX="328 496 41 21"
readonly SEND="408 496 75 25"
# The remote's keys, hotspot 1 to 21, from the table the C++ tests read too: the corner of
# each 68 x 68 click area, the command the key sends and the name the log shows when the
# device answers it; the reserved key has neither.
KEYS_TSV="$(dirname "${BASH_SOURCE[0]}")/../oracle/keys.tsv"
mapfile -t KEY_CORNERS < <(awk -F'\t' '/^[0-9]/ {print $2, $3}' "$KEYS_TSV")
mapfile -t KEY_COMMANDS < <(awk -F'\t' '/^[0-9]/ {print $5}' "$KEYS_TSV")
mapfile -t KEY_NAMES < <(awk -F'\t' '/^[0-9]/ {print $7}' "$KEYS_TSV")
readonly KEY_CORNERS KEY_COMMANDS KEY_NAMES
if [ ${#KEY_CORNERS[@]} -ne 21 ]; then
    echo "FAIL: $KEYS_TSV does not list 21 keys" >&2
    exit 1
fi

TMP=$(mktemp -d "${TMPDIR:-/tmp}/kolvane-e2e.XXXXXX")
readonly TMP
XVFB_PID=""
SIM_PID=""
SIM_PTY=""
APP_PIDS=()
# The window whose log the failure report shows.
REPORT_WINDOW=""

# --- processes -------------------------------------------------------------------------

# Running, that is: neither gone nor a zombie waiting to be reaped.
alive() {
    local stat
    [ -n "$1" ] && read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

stop() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || true
    local deadline=$((SECONDS + 5))
    while alive "$pid" && [ "$SECONDS" -lt "$deadline" ]; do sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    # The programs go first: once the simulator has gone, COM6 no longer has an alias and
    # would lead to /dev/ttyS5.
    local pid
    for pid in "${APP_PIDS[@]}"; do stop "$pid"; done
    stop "$SIM_PID"
    stop "$XVFB_PID"
    rm -rf "$TMP"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Every COM name leads somewhere that is not there, unless the simulator takes it over: the
# program must never reach one of the machine's own ports (/dev/ttyS0 is the console).
readonly NOWHERE="$TMP/no-such-port"

export HOME="$TMP/home"
export XDG_CONFIG_HOME="$TMP/config"
export XDG_RUNTIME_DIR="$TMP/runtime"
export QT_QPA_PLATFORM=xcb  # the suite runs with offscreen set for the window tests
unset WAYLAND_DISPLAY DISPLAY  # only the display started here
mkdir -p "$HOME" "$XDG_CONFIG_HOME/kolvane/ports"
mkdir -m 700 "$XDG_RUNTIME_DIR"
for n in $(seq 1 20); do
    ln -s "$NOWHERE" "$XDG_CONFIG_HOME/kolvane/ports/com$n"
done

fail() {
    set +e
    echo "FAIL: $*" >&2
    if [ -n "$REPORT_WINDOW" ] && [ -n "${DISPLAY:-}" ]; then
        read_field "$REPORT_WINDOW" "$LOG" "$TMP/report.log" 2>/dev/null
        echo >>"$TMP/report.log"
        echo "--- log as read now (| marks line ends)" >&2
        sed 's/$/|/' "$TMP/report.log" >&2
    fi
    if [ -n "${DISPLAY:-}" ]; then
        echo "--- visible windows" >&2
        local w name
        for w in $(timeout 2 xdotool search --onlyvisible --name '.' 2>/dev/null); do
            name=$(timeout 2 xdotool getwindowname "$w" 2>/dev/null)
            echo "$w \"$name\"" >&2
        done
    fi
    local f
    for f in "$TMP"/sim.out "$TMP"/app-*.err "$TMP"/xvfb.log; do
        [ -e "$f" ] || continue
        echo "--- ${f##*/}" >&2
        cat "$f" >&2
    done
    exit 1
}

# Fails unless every process the scenario needs is still there.
check_alive() {
    local pid
    for pid in "${APP_PIDS[@]}"; do
        alive "$pid" || fail "kolvane (pid $pid) has died"
    done
    if [ -n "$SIM_PID" ]; then
        alive "$SIM_PID" || fail "the simulator has died"
    fi
}

start_display() {
    # Xvfb picks a free display number itself and writes it down once it accepts clients.
    Xvfb -displayfd 3 -screen 0 "$((1280 * SCALE))x$((800 * SCALE))x24" -nolisten tcp -noreset \
        3>"$TMP/display" >"$TMP/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local deadline=$((SECONDS + WAIT_SECONDS))
    until grep -qx '[0-9][0-9]*' "$TMP/display"; do
        alive "$XVFB_PID" || fail "Xvfb did not start"
        [ "$SECONDS" -lt "$deadline" ] || fail "Xvfb gave no display number in ${WAIT_SECONDS} s"
        sleep 0.1
    done
    DISPLAY=":$(head -n 1 "$TMP/display")"
    export DISPLAY
}

# The virtual device as SIM_PORT.
SIM_PORT=COM6
start_sim() {
    "$KOLVANE_SIM" --as "$SIM_PORT" >"$TMP/sim.out" 2>&1 &
    SIM_PID=$!
    local deadline=$((SECONDS + WAIT_SECONDS))
    until SIM_PTY=$(sed -n "s|^kolvane-sim: device on \\(/dev/pts/[0-9]*\\) as $SIM_PORT\$|\\1|p" \
        "$TMP/sim.out") && [ -n "$SIM_PTY" ]; do
        alive "$SIM_PID" || fail "the simulator did not start"
        [ "$SECONDS" -lt "$deadline" ] || fail "the simulator did not say where it is"
        sleep 0.1
    done
    [ "$(readlink -f "$XDG_CONFIG_HOME/kolvane/ports/${SIM_PORT,,}")" = "$SIM_PTY" ] ||
        fail "$SIM_PORT does not lead to the simulator's $SIM_PTY"
}

# What starts the program: nothing for a Linux build, Wine for the Windows one.
APP_LAUNCHER=()

# start_app NAME: starts kolvane; its pid goes to APP_PID, its window to WINDOW.
start_app() {
    local name=$1
    "${APP_LAUNCHER[@]}" "$KOLVANE" >"$TMP/app-$name.err" 2>&1 &
    APP_PID=$!
    APP_PIDS+=("$APP_PID")
    # A launcher runs the program as another process; then its window is the only one.
    local owner=(--pid "$APP_PID")
    [ ${#APP_LAUNCHER[@]} -eq 0 ] || owner=()
    # --all: by default xdotool takes a window that meets any one of the conditions.
    WINDOW=$(timeout "$WAIT_SECONDS" xdotool search --sync --all --onlyvisible "${owner[@]}" \
        --name '^Kolvane  Demo$' | head -n 1) || true
    [ -n "$WINDOW" ] || { check_alive; fail "no window for kolvane $name"; }
    REPORT_WINDOW=$WINDOW
    local WIDTH="" HEIGHT=""
    eval "$(xdotool getwindowgeometry --shell "$WINDOW" | grep -E '^(WIDTH|HEIGHT)=[0-9]+$')"
    # Every click below is aimed by the layout; a window of another size would be missed.
    local size="$((514 * SCALE)) x $((554 * SCALE))"
    [ "$WIDTH x $HEIGHT" = "$size" ] || fail "window is $WIDTH x $HEIGHT, not $size"
}

# A program that has ended and been waited for is no longer ours to check or stop.
forget_app() {
    local pid kept=()
    for pid in "${APP_PIDS[@]}"; do
        [ "$pid" = "$1" ] || kept+=("$pid")
    done
    APP_PIDS=("${kept[@]}")
}

# Waits for a process to end by itself; its exit status goes to EXIT_STATUS.
wait_exit() {
    local pid=$1 what=$2
    local deadline=$((SECONDS + WAIT_SECONDS))
    while alive "$pid"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "$what still running after ${WAIT_SECONDS} s"
        sleep 0.1
    done
    EXIT_STATUS=0
    wait "$pid" || EXIT_STATUS=$?
}

# --- input -----------------------------------------------------------------------------

# click WINDOW "left top width height": a left click in the middle of the control.
click() {
    local window=$1 left top width height
    read -r left top width height <<<"$2"
    xdotool mousemove --window "$window" $(((left + width / 2) * SCALE)) \
        $(((top + height / 2) * SCALE)) click 1
}

click_key() {
    click "$1" "${KEY_CORNERS[$2 - 1]} 68 68"
}

# type_into WINDOW CONTROL TEXT: replaces what the box holds, as a person does.
type_into() {
    click "$1" "$2"
    xdotool key ctrl+a
    xdotool type --delay 20 -- "$3"
    # As a person looks before moving on: until the box shows what was typed, a list of
    # completions may still be open, and would take the next click.
    wait_text "$1" "$2" "$3"
}

# read_field WINDOW CONTROL FILE: what the control holds, copied out through the clipboard.
read_field() {
    click "$1" "$2"
    xdotool key ctrl+a ctrl+c
    timeout 3 xclip -selection clipboard -o >"$3" 2>/dev/null || : >"$3"
}

# wait_text WINDOW CONTROL LINE...: waits until the control holds exactly these lines. The
# clipboard may still hold an earlier copy for a moment, so this reads until it matches.
wait_text() {
    local window=$1 control=$2
    shift 2
    printf '%s\n' "$@" >"$TMP/expected"
    local deadline=$((SECONDS + ${WAIT_FOR:-$WAIT_SECONDS}))
    while :; do
        check_alive
        read_field "$window" "$control" "$TMP/actual"
        echo >>"$TMP/actual"
        cmp -s "$TMP/expected" "$TMP/actual" && return 0
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "--- expected (| marks line ends)" >&2
            sed 's/$/|/' "$TMP/expected" >&2
            echo "--- read" >&2
            sed 's/$/|/' "$TMP/actual" >&2
            local what="the control at ($control)"
            [ "$control" = "$LOG" ] && what="the log"
            [ "$control" = "$PORT_BOX" ] && what="the port box"
            fail "$what did not come to hold what was expected"
        fi
        sleep 0.2
    done
}

wait_log() {
    wait_text "$1" "$LOG" "${@:2}"
}

# --- the device's side -----------------------------------------------------------------

# The line the simulator prints for a frame of COMMAND and a line feed.
rx_line() {
    local command=$1 verdict=$2
    local hex
    hex=$(printf '%s\n' "$command" | od -An -tx1 | tr 'a-f' 'A-F')
    printf 'rx "%s\\n" %s -> %s' "$command" "${hex# }" "$verdict"
}

# wait_rx LINE...: waits until the simulator has received exactly these frames.
wait_rx() {
    printf '%s\n' "$@" >"$TMP/expected-rx"
    local deadline=$((SECONDS + WAIT_SECONDS))
    while :; do
        check_alive
        grep '^rx ' "$TMP/sim.out" >"$TMP/actual-rx" || true
        cmp -s "$TMP/expected-rx" "$TMP/actual-rx" && return 0
        if [ "$SECONDS" -ge "$deadline" ]; then
            echo "--- frames expected" >&2
            cat "$TMP/expected-rx" >&2
            fail "the simulator did not receive the frames expected"
        fi
        sleep 0.1
    done
}

# Whether PID holds the simulator's terminal open.
holds_sim() {
    local fd
    for fd in /proc/"$1"/fd/*; do
        [ "$(readlink "$fd" 2>/dev/null)" = "$SIM_PTY" ] && return 0
    done
    return 1
}
