#!/usr/bin/env bash
# Cross-builds the Windows program, build-windows/kolvane.exe (or $WINDOWS_BUILD_DIR), on
# Debian or Ubuntu: one self-contained exe to copy to any Windows 10/11 PC. The first run
# builds Qt and libjpeg for Windows from Debian's sources (about 20 minutes on two cores, once
# per machine) and caches them; later runs take only the program's own build.
#   Extra arguments go to the configure step (e.g. -DKOLVANE_TESTS=OFF).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/windows-toolchain.sh"
EXTRA_PACKAGES="${EXTRA_PACKAGES:-} $WINDOWS_PACKAGES"
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

WINDOWS_BUILD_DIR="${WINDOWS_BUILD_DIR:-$ROOT/build-windows}"
windows_toolchain
cmake -S "$ROOT" -B "$WINDOWS_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$QT_WIN_PREFIX/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$MINGW_TOOLCHAIN" \
    -DJPEG_INCLUDE_DIR="$JPEG_WIN_PREFIX/include" -DJPEG_LIBRARY="$JPEG_WIN_PREFIX/lib/libjpeg.a" \
    "$@" >/dev/null
cmake --build "$WINDOWS_BUILD_DIR" --parallel "$(nproc)"
echo "Built $WINDOWS_BUILD_DIR/kolvane.exe"
