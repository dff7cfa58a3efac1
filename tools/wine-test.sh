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
# cmd ends with 49 (9009, its "not a command") when it could not start the
# program at all, which wine has been seen to do once in a while for a
# program that is there; the program never ran, so it is started once more.
status=0
"$wine" cmd /c "$command" || status=$?
if [ "$status" -eq 49 ]; then
    echo "wine-test: cmd did not start $program; starting it once more" >&2
    status=0
    "$wine" cmd /c "$command" || status=$?
fi
exit "$status"
