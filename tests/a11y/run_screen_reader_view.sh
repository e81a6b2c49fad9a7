#!/usr/bin/env bash
# The window as a screen reader sees it: the built program on a private X display, with a
# D-Bus session of its own and the AT-SPI registry that session starts, looked at from outside
# by screen_reader_view.py.
#
#   run_screen_reader_view.sh KOLVANE
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 KOLVANE" >&2
    exit 2
fi
# A bus of our own, gone with everything it started when the test ends.
if [ -z "${KOLVANE_PRIVATE_BUS:-}" ]; then
    exec env KOLVANE_PRIVATE_BUS=1 dbus-run-session -- bash "$0" "$@"
fi

# What lib.sh expects; no simulator here.
# shellcheck disable=SC2034
KOLVANE=$1 KOLVANE_SIM="" CLOSE_WINDOW=""
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=../e2e/lib.sh
source "$HERE/../e2e/lib.sh"

# Qt otherwise waits for a desktop to say that assistive technology is running.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
start_display
start_app main
# With no window manager, the window is active only once it has the input focus.
xdotool windowfocus --sync "$WINDOW"
# The system's own Python, where python3-pyatspi lives.
/usr/bin/python3 "$HERE/screen_reader_view.py" "$APP_PID" "$KEYS_TSV" ||
    fail "the window is not what a screen reader should find"
