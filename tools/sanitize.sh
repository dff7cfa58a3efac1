#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang, -O1) against Qt 6 into build-asan/, the fuzz/ harnesses there
# linked with libFuzzer, and runs the whole suite there. Any report fails its
# test: UBSan stops at the first one, and leaks count too, but for the few
# inside Qt itself listed in tools/sanitizers/lsan.supp. tools/fuzz.sh then
# fuzzes from that tree when FUZZ_BUILD_DIR=build-asan names it.
# Arguments go to ctest, e.g. tools/sanitize.sh -R sim_. RFPANEL_QT=5 builds
# against Qt 5 instead; as in tools/build.sh, RFPANEL_WERROR=ON makes compiler
# warnings errors.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh check
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DRFPANEL_QT=${RFPANEL_QT:-6}" -DRFPANEL_SANITIZE=ON
         -DRFPANEL_FUZZ=ON "-DRFPANEL_WERROR=${RFPANEL_WERROR:-OFF}")
if command -v ccache >/dev/null; then
    options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$PWD")}
fi
CC=clang CXX=clang++ cmake -S . -B build-asan "${options[@]}" >/dev/null
# Set for the build as well: it runs the checked artwork tool to draw icons.
export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_init_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/tools/sanitizers/lsan.supp:print_suppressions=0
cmake --build build-asan -j"$(nproc)"
cd build-asan
QT_QPA_PLATFORM=offscreen ctest -j2 --output-on-failure "$@"
