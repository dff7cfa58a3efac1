#!/usr/bin/env bash
# Configures and builds the whole tree into build/ (or $BUILD_DIR), against
# the Qt named by $RFPANEL_QT (5 or 6) when set.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
[ -n "${RFPANEL_QT:-}" ] && options+=("-DRFPANEL_QT=$RFPANEL_QT")
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
