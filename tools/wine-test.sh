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
exec "$wine" cmd /c "${settings}Z:${program//\//\\} $*"
