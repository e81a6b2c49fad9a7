#!/usr/bin/env bash
# Takes the README's screenshots from the real program: build/kolvane on a private X display,
# switched on against kolvane-sim as COM6 and answering three keys. Writes
# doc/screenshot.png (device pixel ratio 1) and doc/screenshot@2x.png (QT_SCALE_FACTOR=2);
# doc/screenshot-keyboard.png, where a fourth key is reached and pressed from the keyboard and
# shows its focus ring; doc/screenshot-dark.png, on GTK's dark Adwaita theme; and, with a
# Windows build in build-windows/ (or $WINDOWS_BUILD_DIR), doc/screenshot-wine.png: the Linux
# build and kolvane.exe under Wine side by side, after the same clicks on COM3.
# Rerun it whenever the window changes, and commit the pictures.
set -euo pipefail

if [ "${1:-}" != --one ]; then
    EXTRA_PACKAGES="${EXTRA_PACKAGES:-} imagemagick qt6-gtk-platformtheme"
    source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
    build "$BUILD_DIR" >/dev/null
    mkdir -p "$ROOT/doc"
    # One run each: the display, the simulator and the program are set up for one scale.
    bash "$0" --one 1 "$BUILD_DIR" "$ROOT/doc/screenshot.png"
    bash "$0" --one 2 "$BUILD_DIR" "$ROOT/doc/screenshot@2x.png"
    bash "$0" --one 1 "$BUILD_DIR" "$ROOT/doc/screenshot-keyboard.png" keyboard
    QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark \
        bash "$0" --one 1 "$BUILD_DIR" "$ROOT/doc/screenshot-dark.png"
    WINDOWS_BUILD_DIR="${WINDOWS_BUILD_DIR:-$ROOT/build-windows}"
    if [ -f "$WINDOWS_BUILD_DIR/kolvane.exe" ]; then
        E2E_WAIT_SECONDS=30 bash "$0" --one 1 "$BUILD_DIR" "$ROOT/doc/screenshot-wine.png" wine \
            "$WINDOWS_BUILD_DIR/kolvane.exe"
    fi
    exit 0
fi

export QT_SCALE_FACTOR=$2
# What lib.sh expects.
# shellcheck disable=SC2034
KOLVANE=$3/kolvane KOLVANE_SIM=$3/kolvane-sim CLOSE_WINDOW=""
OUTPUT=$4
MODE=${5:-}
# shellcheck source=../tests/e2e/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tests/e2e/lib.sh"

frames=()
# shoot NAME FILE: the window switched on and answering the keys, as FILE.
shoot() {
    start_app "$1"
    [ "$SIM_PORT" = COM6 ] || type_into "$WINDOW" "$PORT_BOX" "$SIM_PORT"
    click "$WINDOW" "$SWITCH"
    local key keys=(1 17 7)
    for key in "${keys[@]}"; do
        click_key "$WINDOW" "$key"
        frames+=("$(rx_line "${KEY_COMMANDS[key - 1]}" "${KEY_NAMES[key - 1]}")")
        wait_rx "${frames[@]}"
    done
    if [ "$MODE" = keyboard ]; then
        # The switch has the focus from its click: back past "Send CMD" into the remote, on
        # its first key, then down two rows and right to the second audio key.
        xdotool key shift+Tab shift+Tab Down Down Right space
        keys+=(8)
        frames+=("$(rx_line "${KEY_COMMANDS[7]}" "${KEY_NAMES[7]}")")
        wait_rx "${frames[@]}"
    fi
    # The last answer reaches the log at the program's next polls, 100 ms apart.
    until [ "$(grep -c '^tx ' "$TMP/sim.out")" = "${#frames[@]}" ]; do
        check_alive
        sleep 0.1
    done
    sleep 0.5
    # Away from the keys, so that no tooltip or pointer hangs over the picture.
    xdotool mousemove 0 0
    sleep 0.5
    import -window "$WINDOW" -strip -define png:exclude-chunks=date,time "$2"
    # Read back only now: reading selects the log's text.
    local logged=()
    for key in "${keys[@]}"; do
        logged+=("${KEY_NAMES[key - 1]}")
    done
    wait_log "$WINDOW" "$SIM_PORT RS232 ON" "${logged[@]}"
    stop "$APP_PID"
    forget_app "$APP_PID"
}

start_display
if [ "$MODE" != wine ]; then
    start_sim
    shoot shot "$TMP/shot.png"
else
    # COM3 is the port the Wine prefix can lead to the simulator.
    SIM_PORT=COM3
    start_sim
    shoot linux "$TMP/linux.png"
    KOLVANE=$6
    APP_LAUNCHER=(env QT_QPA_PLATFORM=windows KOLVANE_WINE_COM3="$SIM_PTY"
        KOLVANE_WINE_DISPLAY="$DISPLAY"
        bash "$(dirname "${BASH_SOURCE[0]}")/../tests/win/wine_run.sh")
    shoot wine "$TMP/wine.png"
    convert -background white "$TMP/linux.png" -size 8x8 xc:white "$TMP/wine.png" +append \
        -strip -define png:exclude-chunks=date,time "$TMP/shot.png"
fi
mv "$TMP/shot.png" "$OUTPUT"
echo "Wrote $OUTPUT ($(identify -format '%w x %h' "$OUTPUT"))"
