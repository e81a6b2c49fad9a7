#!/usr/bin/env bash
# Sets everything up, builds, and runs the whole test suite headless; builds the Debian package
# (build-package/) and lists, lints, unpacks and starts it; then the same suite built with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), then each fuzz target for a
# while (build-fuzz/). Non-zero on any failure, sanitizer report or fuzzer crash.
#   KOLVANE_SKIP_PACKAGE=1, KOLVANE_SKIP_SANITIZE=1, KOLVANE_SKIP_FUZZ=1   leave a step out
#   KOLVANE_FUZZ_SECONDS=n   seconds per fuzz target (default 60)
# The Windows build and its tests under Wine (build-windows/) run with --windows, always in
# CI (CI=true), and whenever the Windows toolchain is already cached.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/windows-toolchain.sh"
WINDOWS=0
if [ "${1:-}" = --windows ] || [ "${CI:-}" = true ] || windows_toolchain_cached; then
    WINDOWS=1
fi
EXTRA_PACKAGES="${EXTRA_PACKAGES:-} clang libclang-rt-dev lintian x11-utils"
[ "$WINDOWS" = 1 ] && EXTRA_PACKAGES="$EXTRA_PACKAGES $WINDOWS_PACKAGES"
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

step() {
    printf '\n== %s (%s)\n' "$1" "$(date +%T)"
}

step "Test suite"
build "$BUILD_DIR"
(cd "$BUILD_DIR" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)")

if [ "${KOLVANE_SKIP_PACKAGE:-}" != 1 ]; then
    step "Debian package"
    bash "$ROOT/scripts/package.sh"
    PACKAGE_BUILD_DIR="${PACKAGE_BUILD_DIR:-$ROOT/build-package}"
    bash "$ROOT/tests/install/check_package.sh" "$PACKAGE_BUILD_DIR"/kolvane_*.deb
fi

if [ "$WINDOWS" = 1 ]; then
    step "Windows build, tested under Wine"
    WINDOWS_BUILD_DIR="${WINDOWS_BUILD_DIR:-$ROOT/build-windows}"
    WINDOWS_BUILD_DIR="$WINDOWS_BUILD_DIR" bash "$ROOT/scripts/build-windows.sh" \
        -DKOLVANE_E2E_SIM="$BUILD_DIR/kolvane-sim" \
        -DKOLVANE_LOOK_LINUX="$BUILD_DIR/tests/window_boxes"
    (
        # A fresh prefix for this run, made by the first test that needs it.
        KOLVANE_WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/kolvane-wine.XXXXXX")/prefix"
        export KOLVANE_WINEPREFIX
        trap 'WINEPREFIX=$KOLVANE_WINEPREFIX wineserver -k 2>/dev/null || true; rm -rf "${KOLVANE_WINEPREFIX%/prefix}"' EXIT
        cd "$WINDOWS_BUILD_DIR"
        ctest --output-on-failure
    )
else
    echo "Windows build and Wine tests left out: add --windows" \
        "(the first run builds Qt, about 20 minutes)."
fi

if [ "${KOLVANE_SKIP_SANITIZE:-}" != 1 ]; then
    step "Test suite under AddressSanitizer and UndefinedBehaviorSanitizer"
    (
        # Any report aborts the process, which fails its test (or the test discovery at build).
        export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
        export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
        export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
        build "$ROOT/build-asan" -DKOLVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
        cd "$ROOT/build-asan"
        QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)"
    )
fi

if [ "${KOLVANE_SKIP_FUZZ:-}" != 1 ]; then
    step "Fuzzing"
    bash "$ROOT/fuzz/run.sh" "$ROOT/build-fuzz" "${KOLVANE_FUZZ_SECONDS:-60}"
fi
step "Done"
