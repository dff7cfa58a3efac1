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
# A compiler cache, where one is installed, makes a rebuild after a small
# change, or in a second clone, take seconds instead of minutes.
if command -v ccache >/dev/null; then
    options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$PWD")}
fi
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
