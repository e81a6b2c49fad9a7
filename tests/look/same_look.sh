#!/usr/bin/env bash
# The window built for Windows, under Wine, against the Linux build's: both show it on one
# private X display (xcb, as a Linux user sees it; Wine's own windows platform) against the
# virtual device as COM3, after the same clicks, and their controls' rectangles and caption
# ink boxes must agree within 2 px (tests/look/compare_boxes.py).
#
#   same_look.sh LINUX_WINDOW_BOXES WINDOWS_WINDOW_BOXES.exe KOLVANE_SIM
set -euo pipefail
LINUX_BOXES=$1 WINDOWS_BOXES=$2
# What lib.sh expects.
# shellcheck disable=SC2034
KOLVANE="" KOLVANE_SIM=$3 CLOSE_WINDOW=""
HERE="$(dirname "${BASH_SOURCE[0]}")"
# shellcheck source=../e2e/lib.sh
source "$HERE/../e2e/lib.sh"

start_display
SIM_PORT=COM3
start_sim
"$LINUX_BOXES" COM3 >"$TMP/linux.jsonl" 2>"$TMP/linux.err" ||
    fail "the Linux build: $(cat "$TMP/linux.err")"
# windows NAME [VARIABLE=VALUE...]: the Windows build under Wine, its lines in $TMP/NAME.jsonl.
windows() {
    local name=$1
    shift
    env "$@" KOLVANE_WINE_COM3="$SIM_PTY" KOLVANE_WINE_DISPLAY="$DISPLAY" QT_QPA_PLATFORM=windows \
        bash "$HERE/../win/wine_run.sh" "$WINDOWS_BOXES" COM3 >"$TMP/$name.out" \
        2>"$TMP/$name.err" ||
        fail "the Windows build ($name): $(cat "$TMP/$name.err")"
    tr -d '\r' <"$TMP/$name.out" >"$TMP/$name.jsonl"
    echo "== the Windows build ($name) against the Linux build"
    python3 "$HERE/compare_boxes.py" "$TMP/linux.jsonl" "$TMP/$name.jsonl" ||
        fail "the Windows build's window ($name) differs from the Linux build's"
}

# As on a Windows PC; then in a prefix that lacks the window's faces, where the program's own
# choice of the nearest ones must give the same window.
windows windows
prefix=${KOLVANE_WINEPREFIX:-${TMPDIR:-/tmp}/kolvane-wine-$(id -u)}
windows bare KOLVANE_WINEPREFIX="$prefix-bare" KOLVANE_WINE_BARE_FONTS=1
echo "same look: passed"
