#!/usr/bin/env bash
# Sets everything up, builds, and starts the program.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
build "$BUILD_DIR"
exec "$BUILD_DIR/kolvane"
