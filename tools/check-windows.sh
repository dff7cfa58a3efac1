#!/usr/bin/env bash
# Builds the panel for 64-bit Windows with MinGW-w64 against the static Qt of
# tools/build-windows-qt.sh (into build-win/, or $BUILD_DIR), runs its suites
# under wine with the offscreen platform in a fresh wine prefix, packs
# rfpanel.exe, kxsim.exe and rfctl.exe with the README and the licence texts
# into build-win/rfpanel-<version>-win64.zip and its installer
# rfpanel-<version>-win64-setup.exe, and tries the installer in the same
# prefix (tools/wine-install-test.sh). Extra arguments go to ctest
# (tools/check-windows.sh -R tst_rfctl). Exits non-zero on any failure.
#
# Left out, each for a reason no Windows machine has:
#   tst_libusbtmcport, tst_libusbonbus, tst_usbstackonbus: libusb and
#       umockdev, which emulates Linux' usbdevfs (Windows' own USBTMC path is
#       tst_winusbtmc's);
#   sim_pyvisa_client: Debian's python3 and pyvisa run the client;
#   tst_serve: it stops rfctl serve by SIGTERM; tst_vxi11 and tst_mdns: VXI-11
#       and mDNS are not built for Windows;
#   fuzz/: the harnesses replace parts of Qt that a static Qt also defines;
#   the cases that run the Linux desktop launcher, stand in an unwritable file
#       by a link into a missing folder, fill a small mounted file system, or
#       tell file names apart by case.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-win}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/rfpanel
qt=${RFPANEL_WIN_QT:-$cache/qt5.15.8-mingw64}
wine=${WINE:-/usr/lib/wine/wine64}

for tool in x86_64-w64-mingw32-g++-posix makensis "$wine"; do
    if ! command -v "$tool" >/dev/null; then
        echo "check-windows: $tool not found (tools/install-deps.sh ci installs it)" >&2
        exit 1
    fi
done

tools/build-windows-qt.sh "$qt" >/dev/null

options=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-posix.cmake" -DCMAKE_PREFIX_PATH="$qt"
         -DCMAKE_BUILD_TYPE=Release -DRFPANEL_QT=5 "-DRFPANEL_WERROR=${RFPANEL_WERROR:-OFF}"
         -DCMAKE_CROSSCOMPILING_EMULATOR="$root/tools/wine-test.sh")
if command -v ccache >/dev/null; then
    options+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$root")}
fi
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"${JOBS:-2}"

# A wine prefix of its own, made without a display (the suites run offscreen),
# and its wineserver stopped at the end, whatever happens.
prefix=$(mktemp -d "${TMPDIR:-/tmp}/rfpanel-wine.XXXXXX")
# The installer's shortcut must not turn into a menu entry of the Linux desktop.
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINE=$wine
stop_wine() {
    "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
    rm -rf "$prefix"
}
trap stop_wine EXIT
server=$(dirname "$wine")/wineserver
# One wineserver for each part of the run: a server that ends between two
# suites while the next one starts is a race wine's clients can lose.
"$server" -p
env -u DISPLAY -u WAYLAND_DISPLAY "$wine" wineboot -i >/dev/null 2>&1
# Qt writes a test's report to the debugger unless told to use the standard
# streams, as it does when a program has no console. The offscreen platform
# takes its fonts from a folder: the DejaVu fonts the Linux suites use too.
suites() {
    (cd "$build" && env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen QT_FORCE_STDERR_LOGGING=1 \
        QT_QPA_FONTDIR=Z:/usr/share/fonts/truetype/dejavu ctest -j"${JOBS:-2}" --output-on-failure "$@")
}
suites -E '^tst_startup$' "$@"

# Then wine's null display driver, which makes and paints windows without a
# display: tst_startup and the installer's trial run the panel on Windows'
# own platform and end it as Windows does, by closing its window. Wine's own
# programs take the driver when they start, so the server starts anew.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
"$server" -k
"$server" -w
"$server" -p
env -u DISPLAY -u WAYLAND_DISPLAY "$wine" wineboot >/dev/null 2>&1
suites -R '^tst_startup$'

packed=$(tools/pack-windows.sh "$build")
echo "$packed"
env -u DISPLAY -u WAYLAND_DISPLAY tools/wine-install-test.sh "$(echo "$packed" | grep -- '-setup\.exe$')"
