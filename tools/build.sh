#!/usr/bin/env bash
# Configures and builds the whole tree into build/ (or $BUILD_DIR), against
# the Qt named by $RFPANEL_QT: 5, the one install-deps.sh installs, unless 6
# is asked for. RFPANEL_TESTS=OFF leaves the test suites out; RFPANEL_WERROR=ON
# (CI) makes every compiler warning an error.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DBUILD_TESTING=${RFPANEL_TESTS:-ON}")
options+=("-DRFPANEL_QT=${RFPANEL_QT:-5}" "-DRFPANEL_WERROR=${RFPANEL_WERROR:-OFF}")
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
