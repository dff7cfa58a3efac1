#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ (clang, with ASan and UBSan), and
# only what they link, into build-fuzz/, or reuses the tree FUZZ_BUILD_DIR
# names (tools/sanitize.sh's build-asan/), and runs each one for SECONDS, 60
# by default, starting from its corpus in fuzz/corpus/<name>. A crash, a
# sanitizer report or a broken property fails the run; the input that found
# it is kept in <tree>/findings/<name>/ and belongs in fuzz/corpus/<name>
# once fixed.
# An input that takes more than 10 s is a finding too: a parser must not hang.
# Usage: tools/fuzz.sh [SECONDS [NAME...]], e.g. tools/fuzz.sh 3600 settingsfile
# As in tools/build.sh, RFPANEL_WERROR=ON makes compiler warnings errors.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for dir in fuzz/corpus/*/; do names+=("$(basename "$dir")"); done
fi
tools/install-deps.sh check
build=${FUZZ_BUILD_DIR:-build-fuzz}
# A tree configured already (tools/sanitize.sh's) is reused as it is.
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRFPANEL_QT=5 \
        -DBUILD_TESTING=OFF -DRFPANEL_FUZZ=ON "-DRFPANEL_WERROR=${RFPANEL_WERROR:-OFF}" >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target fuzzers
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/tools/sanitizers/lsan.supp:print_suppressions=0
failed=0
# Absolute paths: a harness may change its working folder.
for name in "${names[@]}"; do
    corpus=$PWD/$build/corpus/$name
    findings=$PWD/$build/findings/$name
    log=$PWD/$build/fuzz_$name.log
    mkdir -p "$corpus" "$findings"
    echo "fuzz_$name: ${seconds} s"
    if "$build"/fuzz/fuzz_"$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$corpus" "$PWD/fuzz/corpus/$name" >"$log" 2>&1; then
        grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" | sed 's/^/    /'
    else
        echo "fuzz_$name: FINDING (input kept in $findings/)"
        # The report from its first line (what broke and where), else the log's end.
        report=$(sed -n '/ERROR\|runtime error\|property broken/,$p' "$log")
        if [ -n "$report" ]; then head -n 80 <<<"$report"; else tail -n 60 "$log"; fi
        failed=$((failed + 1))
    fi
done
echo "fuzzers: $((${#names[@]} - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
