#!/usr/bin/env bash
# Packs a built tree (default build/) into the Debian package, checks what the
# package holds and what it depends on, runs the unpacked programs' --version
# without a display, and runs lintian on it. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

rm -f "$build"/rfpanel_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/rfpanel_*.deb)
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
echo "check-package: $deb"

fail() {
    echo "check-package: $*" >&2
    exit 1
}

contents=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for file in usr/bin/rfpanel usr/bin/rfpanel-desktop usr/bin/kxsim \
    usr/share/applications/rfpanel.desktop \
    usr/share/icons/hicolor/{48x48,64x64,128x128,256x256}/apps/rfpanel.png \
    usr/lib/udev/rules.d/70-rf-converter-usbtmc.rules \
    usr/lib/systemd/system/rfctl-serve.service usr/lib/systemd/system/rfctl-serve@.service \
    usr/bin/rfctl usr/share/man/man1/{rfpanel,rfpanel-desktop,kxsim,rfctl}.1.gz \
    usr/share/doc/rfpanel/copyright usr/share/snmp/mibs/RFCONVERTER-MIB.txt; do
    grep -qx "\./$file" <<<"$contents" || fail "$file is missing from the package"
done

depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt[56]widgets libusb-1.0 libsnmp; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
for program in rfpanel kxsim; do
    got=$(cd "$unpacked" && env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY \
        "$unpacked/usr/bin/$program" --version)
    [ "$got" = "$program $version" ] || fail "unpacked $program --version said \"$got\""
    echo "check-package: unpacked $program --version: $got"
done
[ -z "$(ls -A "$unpacked" | grep -vx usr)" ] || fail "--version wrote into its working folder"

lintian --fail-on error,warning "$deb"
echo "check-package: $deb passes"
