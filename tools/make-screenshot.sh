#!/usr/bin/env bash
# Builds the screenshot tool and writes docs/screenshot.png from the panel
# connected to the in-process instrument simulator, and docs/trend.png from the
# trend window (or the two paths given).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target panel-screenshot -j"$(nproc)"
QT_QPA_PLATFORM=offscreen "$build/tools/screenshot/panel-screenshot" "${1:-docs/screenshot.png}" \
    "${2:-docs/trend.png}"
