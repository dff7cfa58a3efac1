#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format makes of
# it under .clang-format, naming each file and line.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run -Werror
echo "check-format: every tracked C/C++ file is formatted"
