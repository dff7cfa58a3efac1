#!/usr/bin/env bash
# Installs the Debian 12 packages that one kind of work needs:
#   run      build and run the panel and the simulator (run.sh)
#   package  that, and build the Debian package (cpack -G DEB)
#   test     that, and run the whole test suite (test.sh; the default), also
#            under a decimal-comma locale
#   check    that, and clang with its sanitizer and libFuzzer runtimes and
#            llvm-symbolizer (llvm-14), which names the frames of a report and
#            of a leak to suppress, and Qt 6, which the checked build uses
#            (tools/sanitize.sh, tools/fuzz.sh)
#   ci       that, and the package checks (systemd-analyze among them), the Windows build run under wine
#            (tools/check-windows.sh) with its fonts and installer, the clang-format and clang-tidy
#            checks, and ccache (.ci/run)
# Does nothing when they are all present already. Without root and without
# sudo it names what is missing and the command that installs it, and fails.
set -euo pipefail

set_name=${1:-test}
run=(cmake g++ make pkg-config qtbase5-dev qtbase5-dev-tools libqt5charts5-dev libusb-1.0-0-dev
     fonts-dejavu-core libtirpc-dev libavahi-client-dev libmicrohttpd-dev
     libmicrohttpd12 libsnmp-dev)
package=("${run[@]}" dpkg-dev file)
# erlang-snmp is the one package in Debian's main archive with the SMIv2 base
# modules (SNMPv2-SMI, -TC, -CONF) that RFCONVERTER-MIB imports; snmp and
# smitools need them to read it.
test=("${package[@]}" python3-pyvisa python3-pyvisa-py umockdev libumockdev-dev libumockdev0
      locales rpcbind lxi-tools iproute2 avahi-daemon avahi-utils dbus prometheus chromium socat
      python3-yaml snmpd snmptrapd snmp smitools erlang-snmp)
check=("${test[@]}" clang libclang-rt-14-dev llvm-14 qt6-base-dev qt6-charts-dev libqt6opengl6-dev)
ci=("${check[@]}" ccache lintian systemd g++-mingw-w64-x86-64-posix wine64 fonts-wine nsis clang-format clang-tidy)
case "$set_name" in
run | package | test | check | ci) declare -n packages="$set_name" ;;
*)
    echo "usage: $0 [run|package|test|check|ci]" >&2
    exit 2
    ;;
esac

if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null; then
    sudo=(sudo)
else
    sudo=(false)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    install=(apt-get install --no-install-recommends "${missing[@]}")
    if [ "${sudo[*]}" = false ]; then
        echo "install-deps: missing Debian packages: ${missing[*]}" >&2
        echo "install-deps: as root, run: apt-get update && ${install[*]}" >&2
        exit 1
    fi
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive "${install[@]}" -y -qq
fi

# The panel's suites also run under a decimal-comma locale.
if [ "$set_name" != run ] && [ "$set_name" != package ]; then
    if ! locale -a 2>/dev/null | grep -qx 'de_DE.utf8'; then
        if [ "${sudo[*]}" = false ]; then
            echo "install-deps: as root, run: localedef -i de_DE -f UTF-8 de_DE.UTF-8" >&2
            exit 1
        fi
        "${sudo[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
    fi
fi
