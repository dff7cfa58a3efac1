#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
tools/build.sh
cd build
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure
