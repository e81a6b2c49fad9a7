#!/usr/bin/env bash
# Builds the Debian package build-package/kolvane_<version>_amd64.deb (another folder:
# PACKAGE_BUILD_DIR=...): optimised, with Debian's hardening flags, stripped, its library
# dependencies worked out by dpkg-shlibdeps. Then, on Debian 12 or later:
#     sudo apt install ./build-package/kolvane_*_amd64.deb
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

PACKAGE_BUILD_DIR="${PACKAGE_BUILD_DIR:-$ROOT/build-package}"
# The same package from the same commit: the manual pages' dates and the files' times come
# from it rather than from the clock.
SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null ||
    date +%s)}"
export SOURCE_DATE_EPOCH
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
build "$PACKAGE_BUILD_DIR" -DKOLVANE_TESTS=OFF \
    -DCMAKE_C_FLAGS="$CPPFLAGS $CFLAGS" -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" \
    -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS"
rm -f "$PACKAGE_BUILD_DIR"/kolvane_*.deb
(cd "$PACKAGE_BUILD_DIR" && cpack -G DEB >/dev/null)
ls "$PACKAGE_BUILD_DIR"/kolvane_*.deb
