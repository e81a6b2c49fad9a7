#!/usr/bin/env bash
# Checks an installed tree, as `cmake --install` or the Debian package lays it out:
#
#   check_tree.sh PREFIX
#
# every file where desktops and tools look for it; the desktop entry and the AppStream file
# through their validators; for each program the AppStream file says the package provides, a
# manual page that renders without warnings and mentions every option its --help lists; one
# version everywhere.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 PREFIX" >&2
    exit 2
fi
PREFIX=$1
readonly ID=org.kolvane.Remote
readonly METAINFO="$PREFIX/share/metainfo/$ID.metainfo.xml"
status=0

fail() {
    echo "FAIL: $*" >&2
    status=1
}

[ -f "$METAINFO" ] || { echo "FAIL: share/metainfo/$ID.metainfo.xml is not installed" >&2; exit 1; }
mapfile -t PROGRAMS < <(sed -n 's|^ *<binary>\(.*\)</binary>$|\1|p' "$METAINFO")
[[ " ${PROGRAMS[*]} " == *" kolvane "* ]] || fail "the AppStream file does not provide kolvane"
expected=(
    "share/applications/$ID.desktop"
    "share/icons/hicolor/scalable/apps/$ID.svg"
    share/doc/kolvane/copyright
    share/doc/kolvane/changelog.gz
    lib/systemd/user/kolvane-serve@.service
)
for side in 16 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${side}x$side/apps/$ID.png")
done
for program in "${PROGRAMS[@]}"; do
    expected+=("bin/$program" "share/man/man1/$program.1.gz")
done
for file in "${expected[@]}"; do
    [ -f "$PREFIX/$file" ] || fail "$file is not installed"
done
for program in "${PROGRAMS[@]}"; do
    [ -x "$PREFIX/bin/$program" ] || fail "bin/$program cannot be run"
done
[ "$status" = 0 ] || exit 1

echo "desktop-file-validate share/applications/$ID.desktop"
desktop-file-validate "$PREFIX/share/applications/$ID.desktop" ||
    fail "the desktop entry is not valid"
echo "appstreamcli validate --no-net share/metainfo/$ID.metainfo.xml"
appstreamcli validate --no-net --explain "$METAINFO" || fail "the AppStream file is not valid"

desktop_key() {
    sed -n "s/^$1=//p" "$PREFIX/share/applications/$ID.desktop"
}
[ "$(desktop_key Exec)" = kolvane ] || fail "the menu entry does not start kolvane"
[ "$(desktop_key Icon)" = $ID ] || fail "the menu entry's icon is not $ID"
grep -q "<launchable type=\"desktop-id\">$ID.desktop</launchable>" "$METAINFO" ||
    fail "the AppStream file does not launch $ID.desktop"
# The unit names the program where the tree puts it, as a package installed under / has it.
unit_exec=$(sed -n 's/^ExecStart=//p' "$PREFIX/lib/systemd/user/kolvane-serve@.service")
[[ "$unit_exec" == */bin/kolvane-serve\ --port\ %i && -x "$PREFIX/bin/kolvane-serve" &&
    "$PREFIX" == *"${unit_exec%/bin/kolvane-serve *}" ]] ||
    fail "the user unit starts '$unit_exec', not this tree's kolvane-serve"

for program in "${PROGRAMS[@]}"; do
    page="$PREFIX/share/man/man1/$program.1.gz"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null) ||
        fail "man cannot render $program.1"
    [ -z "$warnings" ] || fail "$program.1 renders with warnings: $warnings"
    text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$page" 2>/dev/null | col -b)
    for option in $("$PREFIX/bin/$program" --help | grep -oE -- '(^|[ [,])--?[a-z][a-z-]*' |
        grep -oE -- '--?[a-z][a-z-]*' | sort -u); do
        grep -qE -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$text" ||
            fail "$program --help lists $option, its manual page does not"
    done
done

version=$("$PREFIX/bin/kolvane" --version | sed -n 's/^kolvane //p')
release=$(grep -o -m 1 '<release version="[^"]*"' "$METAINFO" | cut -d'"' -f2)
changelog=$(zcat "$PREFIX/share/doc/kolvane/changelog.gz" | sed -n '1s/^kolvane (\([^)]*\)).*/\1/p')
if [ -z "$version" ] || [ "$release" != "$version" ] || [ "$changelog" != "$version" ]; then
    fail "versions differ: --version '$version', AppStream '$release', changelog '$changelog'"
fi

[ "$status" = 0 ] && echo "ok: installed tree under $PREFIX"
exit "$status"
