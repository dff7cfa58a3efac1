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
"$cxx" -static -o "$out/linkcheck.exe" "$out/linkcheck.o" "$out/win32usbtmcport.o" -lsetupapi
echo "cross-check-windows: usb/win32usbtmcport.cpp compiles and links for x86_64-w64-mingw32"
