#!/usr/bin/env bash
# Runs one Windows program under Wine, in a private prefix, with COM ports on
# pseudo-terminals: COM3 and COM103 are the two ends of a null-modem pair (socat), and
# every other COM1..COM20 leads to a path that does not exist, so nothing reaches a real
# port of the machine.
#
#   wine_run.sh PROGRAM.exe [ARGS...]
#
# KOLVANE_WINEPREFIX names the prefix (made on first use; default under the temp folder).
# KOLVANE_WINE_COM3=DEVICE puts COM3 on that device instead of the pair (an end-to-end run
# gives it the virtual device), and KOLVANE_WINE_DISPLAY=:N shows windows on that X display;
# otherwise Wine has none and the programs draw offscreen. A program pulls the pair's plug,
# as an unplugged adapter would, by creating the file KOLVANE_WINE_UNPLUG names; a fresh
# pair comes up under the same names once that file is gone. KOLVANE_WINE_BARE_FONTS=1 makes
# a new prefix without the faces that stand in for a Windows PC's.
set -euo pipefail

export WINEPREFIX="${KOLVANE_WINEPREFIX:-${TMPDIR:-/tmp}/kolvane-wine-$(id -u)}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
[ -n "${KOLVANE_WINE_DISPLAY:-}" ] && export DISPLAY="$KOLVANE_WINE_DISPLAY"
work="$WINEPREFIX.com"

# One program at a time: they share the prefix's ports.
exec 9>"$WINEPREFIX.lock"
flock 9

# Wine links COM ports to the machine's serial ports each time it starts, unless the registry
# names a path for the port; so every COM name is named there.
if [ ! -f "$WINEPREFIX/.kolvane-ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    {
        printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
        for n in $(seq 1 256); do
            target="$work/none"
            [ "$n" = 3 ] && target="$work/program"
            [ "$n" = 103 ] && target="$work/device"
            printf '"COM%d"="%s"\n' "$n" "$target"
        done
        # Wine has none of the faces every Windows PC has that the window asks for; these
        # stand in as on Linux, with the same metrics.
        if [ "${KOLVANE_WINE_BARE_FONTS:-}" != 1 ]; then
            printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
            printf '"Arial"="Liberation Sans"\n"MS Sans Serif"="Liberation Sans"\n'
            printf '"Times New Roman"="Liberation Serif"\n'
        fi
    } >"$WINEPREFIX/ports.reg"
    wine regedit /S "$WINEPREFIX/ports.reg" >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.kolvane-ready"
fi

rm -rf "$work"
mkdir -p "$work"
pair_pid=
cleanup() {
    # The server holds the ports open; it goes first, or their hang-up makes it dump its
    # state to the terminal.
    wineserver -k 2>/dev/null || true
    if [ -n "$pair_pid" ]; then
        touch "$work/stop"
        pkill -P "$pair_pid" 2>/dev/null || true
        wait "$pair_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

if [ -n "${KOLVANE_WINE_COM3:-}" ]; then
    ln -s "$KOLVANE_WINE_COM3" "$work/program"
else
    export KOLVANE_WINE_UNPLUG="$work/unplug"
    pair() {
        while :; do
            socat "pty,raw,echo=0,link=$work/program" "pty,raw,echo=0,link=$work/device" &
            local socat_pid=$!
            for _ in $(seq 100); do
                [ -e "$work/program" ] && [ -e "$work/device" ] && break
                sleep 0.02
            done
            rm -f "$KOLVANE_WINE_UNPLUG"
            while [ ! -e "$KOLVANE_WINE_UNPLUG" ] && [ ! -e "$work/stop" ] &&
                kill -0 "$socat_pid" 2>/dev/null; do
                sleep 0.05
            done
            kill "$socat_pid" 2>/dev/null || true
            wait "$socat_pid" 2>/dev/null || true
            rm -f "$work/program" "$work/device"
            [ -e "$work/stop" ] && break
        done
    }
    pair 2>/dev/null &
    pair_pid=$!
    for _ in $(seq 100); do
        [ -e "$work/program" ] && [ -e "$work/device" ] && break
        sleep 0.02
    done
fi

# In the background, so that a TERM sent to this script reaches the program too.
wine "$@" 9>&- &
wine_pid=$!
trap 'kill "$wine_pid" 2>/dev/null' TERM INT
status=0
wait "$wine_pid" || status=$?
exit "$status"
