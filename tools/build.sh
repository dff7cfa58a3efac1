#!/usr/bin/env bash
# Configures and builds the whole tree into build/ (or $BUILD_DIR), against
# the Qt named by $RFPANEL_QT (5 or 6) when set; RFPANEL_TESTS=OFF leaves
# the test suites out.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DBUILD_TESTING=${RFPANEL_TESTS:-ON}")
[ -n "${RFPANEL_QT:-}" ] && options+=("-DRFPANEL_QT=$RFPANEL_QT")
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
