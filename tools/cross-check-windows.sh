#!/usr/bin/env bash
# Builds the Windows layer under the raw USBTMC backend with the MinGW-w64
# cross-compiler, so code that only Windows compiles cannot rot unnoticed on
# the Linux machines the team works on. Exits non-zero on any error.
set -euo pipefail
cd "$(dirname "$0")/.."

cxx=${CXX_WIN64:-x86_64-w64-mingw32-g++}
if ! command -v "$cxx" >/dev/null; then
    echo "cross-check-windows: $cxx not found (tools/install-deps.sh installs it)" >&2
    exit 1
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

flags=(-std=c++17 -Wall -Wextra -Werror -Iusb)
"$cxx" "${flags[@]}" -c usb/win32usbtmcport.cpp -o "$out/win32usbtmcport.o"

# Link check: every SetupAPI and kernel32 symbol the layer uses must resolve.
cat >"$out/linkcheck.cpp" <<'CPP'
#include "usbtmcport.h"
int main()
{
    auto port = createPlatformUsbTmcPort();
    return port->isOpen() ? 1 : 0;
}
CPP
"$cxx" "${flags[@]}" -c "$out/linkcheck.cpp" -o "$out/linkcheck.o"

# rfpanel.exe's resources (icon and version), filled in as CMake's
# configure_file does it on Windows, compiled and linked in too.
windres=${WINDRES_WIN64:-x86_64-w64-mingw32-windres}
version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
IFS=. read -r major minor _ <<<"$version"
sed -e "s|@RFPANEL_ICON@|$PWD/resources/Pictures/mainicon.ico|" -e "s|@PROJECT_VERSION@|$version|g" \
    -e "s|@PROJECT_VERSION_MAJOR@|$major|g" -e "s|@PROJECT_VERSION_MINOR@|${minor:-0}|g" \
    app/rfpanel.rc.in >"$out/rfpanel.rc"
if grep -q @ "$out/rfpanel.rc"; then
    echo "cross-check-windows: app/rfpanel.rc.in has a placeholder this check does not fill" >&2
    exit 1
fi
"$windres" -O coff -i "$out/rfpanel.rc" -o "$out/rfpanel-res.o"

"$cxx" -static -o "$out/linkcheck.exe" "$out/linkcheck.o" "$out/win32usbtmcport.o" \
    "$out/rfpanel-res.o" -lsetupapi
echo "cross-check-windows: usb/win32usbtmcport.cpp and app/rfpanel.rc.in compile and link for x86_64-w64-mingw32"
