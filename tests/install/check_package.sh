#!/usr/bin/env bash
# Checks the Debian package as a user gets it:
#
#   check_package.sh DEB
#
# lists what it holds, runs lintian over it, unpacks it into a temporary root (dpkg -x) and
# checks the tree there, then starts the program from that root: offscreen, where it must keep
# running, and on a private X display, where its window must appear with its icon.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 DEB" >&2
    exit 2
fi
DEB=$(realpath "$1")
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# What lib.sh expects; only the program is started here, once it is unpacked.
# shellcheck disable=SC2034
KOLVANE="" KOLVANE_SIM="" CLOSE_WINDOW=""
# shellcheck source=../e2e/lib.sh
source "$HERE/../e2e/lib.sh"

echo "== $(basename "$DEB"): $(du -k "$DEB" | cut -f1) KiB"
dpkg-deb --info "$DEB"
dpkg-deb --contents "$DEB"

echo "== lintian"
lintian --fail-on error --display-info "$DEB" 2>&1 | grep -v 'root privileges' || true
lintian --fail-on error "$DEB" >/dev/null 2>&1 || fail "lintian finds errors"

echo "== unpacked into a temporary root"
dpkg-deb -x "$DEB" "$TMP/root"
bash "$HERE/check_tree.sh" "$TMP/root/usr" || fail "the package's tree is not right"
KOLVANE="$TMP/root/usr/bin/kolvane"

echo "== started offscreen"
QT_QPA_PLATFORM=offscreen timeout 3 "$KOLVANE" >"$TMP/offscreen.out" 2>&1 && started=0 || started=$?
# Still running when stopped (124) is what a window program does.
[ "$started" = 124 ] ||
    fail "kolvane ended by itself (status $started): $(cat "$TMP/offscreen.out")"
# The offscreen platform says that it cannot pass size hints to a window system it has not got.
if grep -v 'does not support propagateSizeHints' "$TMP/offscreen.out"; then
    fail "kolvane complained (above)"
fi

echo "== started on X"
start_display
start_app packaged
# The size of the first image the icon property holds: none when there is no icon.
icon=$(xprop -id "$WINDOW" -notype -f _NET_WM_ICON 32c ' $0 x $1\n' _NET_WM_ICON)
[[ "$icon" =~ ^_NET_WM_ICON\ [1-9][0-9]*\ x\ [1-9][0-9]*$ ]] || fail "the window has no icon: $icon"
wm_class=$(xprop -id "$WINDOW" WM_CLASS)
desktop_entry="$TMP/root/usr/share/applications/org.kolvane.Remote.desktop"
startup_class=$(sed -n 's/^StartupWMClass=//p' "$desktop_entry")
[[ "$wm_class" == *"\"$startup_class\""* ]] ||
    fail "the menu entry's StartupWMClass '$startup_class' is not the window's $wm_class"
echo "ok: $(basename "$DEB")"
