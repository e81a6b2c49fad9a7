#!/usr/bin/env bash
# Takes the README's screenshots from the real program: build/kolvane on a private X display,
# switched on against kolvane-sim as COM6 and answering three keys. Writes
# doc/screenshot.png (device pixel ratio 1) and doc/screenshot@2x.png (QT_SCALE_FACTOR=2).
# Rerun it whenever the window changes, and commit the two pictures.
set -euo pipefail

if [ "${1:-}" != --one ]; then
    EXTRA_PACKAGES="${EXTRA_PACKAGES:-} imagemagick"
    source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
    build "$BUILD_DIR" >/dev/null
    mkdir -p "$ROOT/doc"
    # One run each: the display, the simulator and the program are set up for one scale.
    bash "$0" --one 1 "$BUILD_DIR" "$ROOT/doc/screenshot.png"
    bash "$0" --one 2 "$BUILD_DIR" "$ROOT/doc/screenshot@2x.png"
    exit 0
fi

export QT_SCALE_FACTOR=$2
# What lib.sh expects.
# shellcheck disable=SC2034
KOLVANE=$3/kolvane KOLVANE_SIM=$3/kolvane-sim CLOSE_WINDOW=""
OUTPUT=$4
# shellcheck source=../tests/e2e/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/lib.sh"

start_display
start_sim
start_app shot
click "$WINDOW" "$SWITCH"
keys=(1 17 7)
frames=()
for key in "${keys[@]}"; do
    click_key "$WINDOW" "$key"
    frames+=("$(rx_line "${KEY_COMMANDS[key - 1]}" "${KEY_NAMES[key - 1]}")")
    wait_rx "${frames[@]}"
done
# The last answer reaches the log at the program's next polls, 100 ms apart.
until [ "$(grep -c '^tx ' "$TMP/sim.out")" = "${#keys[@]}" ]; do
    check_alive
    sleep 0.1
done
sleep 0.5
# Away from the keys, so that no tooltip or pointer hangs over the picture.
xdotool mousemove 0 0
sleep 0.5
import -window "$WINDOW" -strip -define png:exclude-chunks=date,time "$TMP/shot.png"
# Read back only now: reading selects the log's text.
wait_log "$WINDOW" "COM6 RS232 ON" "${KEY_NAMES[0]}" "${KEY_NAMES[16]}" "${KEY_NAMES[6]}"
mv "$TMP/shot.png" "$OUTPUT"
echo "Wrote $OUTPUT ($(identify -format '%w x %h' "$OUTPUT"))"
