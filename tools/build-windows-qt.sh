#!/usr/bin/env bash
# Makes Qt 5.15.8 for 64-bit Windows (MinGW-w64, posix threads, static, with
# Qt Charts) in PREFIX, for tools/check-windows.sh and the README's Windows
# build. Two ways, the first that applies:
#   1. unpack the prebuilt tarball from ../shared/toolchains/ beside the
#      project (or $RFPANEL_WIN_QT_DIR), after checking it against the
#      SHA256SUMS there: a few seconds;
#   2. build it from Debian's own source packages of qtbase and qtcharts
#      (deb-src of the machine's archive; root for apt-get): about 40 minutes
#      on 2 cores.
# A PREFIX already made from the same tarball is left as it is.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${1:?usage: build-windows-qt.sh PREFIX}
tarball_name=qt5.15.8-mingw64-static.tar.xz
toolchains=${RFPANEL_WIN_QT_DIR:-$root/../shared/toolchains}
stamp=$prefix/.rfpanel-qt-source

say() { echo "build-windows-qt: $*" >&2; }

unpack_prebuilt() {
    local sum
    sum=$(grep " \*\?$tarball_name\$" "$toolchains/SHA256SUMS" | cut -d' ' -f1)
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$sum" ]; then
        return 0
    fi
    (cd "$toolchains" && grep " \*\?$tarball_name\$" SHA256SUMS | sha256sum --check --quiet) || {
        say "$toolchains/$tarball_name does not match its SHA256SUMS"
        exit 1
    }
    say "unpacking $toolchains/$tarball_name into $prefix"
    rm -rf "$prefix"
    mkdir -p "$prefix"
    # The tarball holds one folder, qt5.15-win64/; its CMake files are relocatable.
    tar -xJf "$toolchains/$tarball_name" -C "$prefix" --strip-components=1
    echo "$sum" >"$stamp"
}

# Compilers named as Qt's configure wants them, of the posix thread model.
posix_compilers() {
    mkdir -p "$1"
    for tool in gcc g++; do
        ln -sf "/usr/bin/x86_64-w64-mingw32-$tool-posix" "$1/x86_64-w64-mingw32-$tool"
    done
}

build_from_source() {
    local work=${RFPANEL_QT_WORK:-$(mktemp -d)}
    say "no prebuilt tarball in $toolchains: building Qt from Debian's sources in $work (about 40 minutes)"
    if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
        say "x86_64-w64-mingw32-g++-posix is missing: tools/install-deps.sh ci installs it"
        exit 1
    fi
    mkdir -p "$work/apt/parts" "$work/apt/lists/partial" "$work/src"
    # A private source list with deb-src added, so the system's stays as it is.
    sed 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources \
        >"$work/apt/parts/debian.sources"
    local apt=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/apt/parts"
               -o "Dir::State::Lists=$work/apt/lists")
    apt-get "${apt[@]}" update -qq || {
        say "fetching Debian's source lists failed (root and the package archive are needed)"
        exit 1
    }
    (cd "$work/src" && apt-get "${apt[@]}" source -qq --download-only \
        qtbase-opensource-src qtcharts-opensource-src)
    (cd "$work/src" && for t in qtbase-opensource-src_*.orig.tar.xz qtcharts-opensource-src_*.orig.tar.xz; do
        tar -xf "$t"
    done)
    posix_compilers "$work/bin"
    export PATH=$work/bin:$PATH
    local jobs
    jobs=$(nproc)
    mkdir -p "$work/qtbase"
    # Debian's source has no wintab and no sqlite: hence no tablet events and no sqlite driver.
    (cd "$work/qtbase" && "$work"/src/qtbase-everywhere-src-5.15.8/configure \
        -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
        -prefix "$prefix" -opensource -confirm-license -release -static -static-runtime \
        -optimize-size -nomake examples -nomake tests -no-opengl -no-dbus -no-icu -no-openssl \
        -no-sql-sqlite -no-sql-odbc -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre -qt-freetype \
        -qt-harfbuzz -no-feature-tabletevent && make -j"$jobs" && make install)
    mkdir -p "$work/qtcharts"
    (cd "$work/qtcharts" && "$prefix/bin/qmake" "$work"/src/qtcharts-everywhere-src-5.15.8 &&
        make -j"$jobs" && make install)
    echo "built from source" >"$stamp"
}

if [ -f "$toolchains/$tarball_name" ] && [ -f "$toolchains/SHA256SUMS" ]; then
    unpack_prebuilt
elif [ -f "$stamp" ]; then
    say "using the Qt already in $prefix"
elif [ -r /etc/apt/sources.list.d/debian.sources ] && [ "$(id -u)" -eq 0 ]; then
    build_from_source
else
    say "neither $toolchains/$tarball_name (with SHA256SUMS) nor a way to build Qt from"
    say "Debian's sources (root and /etc/apt/sources.list.d/debian.sources) is available"
    exit 1
fi
echo "$prefix"
