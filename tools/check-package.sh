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
    usr/share/rfpanel/monitoring/rfconverter-alerts.yml usr/share/snmp/mibs/RFCONVERTER-MIB.txt \
    usr/share/doc/rfpanel/copyright; do
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

# The service units as shipped: `systemd-analyze verify` finds nothing to say
# about them, and their sandbox scores an exposure of 2.5 or less. verify
# wants the program to exist, so the copies start the unpacked one.
units=$unpacked/units
mkdir "$units"
for unit in rfctl-serve.service rfctl-serve@.service; do
    sed "s|/usr/bin/rfctl|$unpacked/usr/bin/rfctl|" "$unpacked/usr/lib/systemd/system/$unit" \
        >"$units/${unit/@/@SN000123}"
done
for unit in "$units"/*.service; do
    said=$(systemd-analyze verify --man=no "$unit" 2>&1) || fail "verify failed: $said"
    [ -z "$said" ] || fail "systemd-analyze verify $(basename "$unit"): $said"
    systemd-analyze security --offline=yes --threshold=25 "$unit" >/dev/null ||
        fail "$(systemd-analyze security --offline=yes "$unit" 2>&1 | tail -n 1)"
    echo "check-package: $(systemd-analyze security --offline=yes "$unit" 2>&1 | tail -n 1)"
done

lintian --fail-on error,warning "$deb"
echo "check-package: $deb passes"
