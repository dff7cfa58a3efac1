#!/usr/bin/env bash
# Builds the screenshot tool and writes docs/screenshot.png (or the path given)
# from the panel connected to the in-process instrument simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target panel-screenshot -j"$(nproc)"
QT_QPA_PLATFORM=offscreen "$build/tools/screenshot/panel-screenshot" "${1:-docs/screenshot.png}"
