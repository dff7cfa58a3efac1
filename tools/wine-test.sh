#!/usr/bin/env bash
# Runs a Windows program of the build under wine for ctest (the Windows
# build's CMAKE_CROSSCOMPILING_EMULATOR, set by tools/check-windows.sh).
# Wine hands no variable named QT_* to Windows programs, so those of the
# test's environment (the platform, a scale factor, logging to stderr) are set
# again inside, through cmd. The build folder's path must not hold spaces.
set -euo pipefail
wine=${WINE:-/usr/lib/wine/wine64}
program=$1
shift
settings=""
while IFS= read -r variable; do
    settings+="set $variable&& "
done < <(env | grep '^QT_' || true)
command="${settings}Z:${program//\//\\} $*"
# Wine has been seen, once in a while, to fail to start a program that is
# there: cmd then ends with 49 (9009, its "not a command"), or says that
# ShellExecuteEx failed. The program never ran, so it is started once more.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
run() {
    status=0
    "$wine" cmd /c "$command" 2>&1 | tee "$log" || status=${PIPESTATUS[0]}
}
run
if [ "$status" -eq 49 ] || { [ "$status" -ne 0 ] && grep -q "ShellExecuteEx failed" "$log"; }; then
    echo "wine-test: cmd did not start $program; starting it once more" >&2
    run
fi
exit "$status"
