#!/usr/bin/env bash
# Runs clang-tidy, as .clang-tidy configures it, over the product code (the
# sources of usb/ hardware/ connection/ app/ dialogs/ sim/ rfctl/, their sub-folders and the
# headers they include) of a built tree, default build/: its
# compile_commands.json and generated form headers are what clang-tidy reads.
# Tests, benchmarks, fuzz harnesses and Qt's generated code are left out.
# Exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ ! -f "$build/compile_commands.json" ]; then
    echo "check-tidy: no $build/compile_commands.json; build the tree first (tools/build.sh)" >&2
    exit 1
fi
run-clang-tidy -quiet -p "$build" -j "$(nproc)" \
    "^$PWD/(app|connection|dialogs|hardware|rfctl|sim|usb)/([^/]+/)?[^/]+\.cpp\$"
echo "check-tidy: no findings"
