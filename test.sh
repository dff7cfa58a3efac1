#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
# BUILD_DIR and RFPANEL_QT choose the build folder and the Qt (see tools/build.sh).
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh test
tools/build.sh
cd "${BUILD_DIR:-build}"
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure
