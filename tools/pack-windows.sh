#!/usr/bin/env bash
# Packs the Windows programs of a build folder made by tools/check-windows.sh
# into BUILD/rfpanel-<version>-win64.zip: rfpanel.exe, kxsim.exe and
# rfctl.exe (linked statically: no DLLs needed), the README, the panel's
# copyright, and the licence texts of what is linked into them (Qt, and the
# MinGW-w64 C++ runtime and winpthreads), taken from the Debian packages that
# carry the same sources. Text files get Windows line ends. Also makes
# BUILD/rfpanel-<version>-win64-setup.exe of the same files with NSIS
# (packaging/windows/rfpanel.nsi). Prints the paths of both.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-win}
version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=rfpanel-$version-win64
stage=$build/package/$name
rm -rf "$build/package"
mkdir -p "$stage/licences"

cp "$build/app/rfpanel.exe" "$build/sim/kxsim.exe" "$build/rfctl/rfctl.exe" "$stage/"
x86_64-w64-mingw32-strip "$stage"/*.exe
# On the host, each licence text sits in the Debian package built from the same source.
texts=(README.md:README.md packaging/copyright:COPYRIGHT.txt
       /usr/share/doc/libqt5core5a/copyright:licences/Qt-base.txt
       /usr/share/doc/libqt5charts5/copyright:licences/Qt-Charts.txt
       /usr/share/common-licenses/LGPL-3:licences/LGPL-3.txt
       /usr/share/common-licenses/GPL-3:licences/GPL-3.txt
       /usr/share/doc/gcc-mingw-w64-base/copyright:licences/MinGW-w64-GCC-runtime.txt
       /usr/share/doc/mingw-w64-common/copyright:licences/MinGW-w64-runtime.txt)
for entry in "${texts[@]}"; do
    from=${entry%%:*}
    if [ ! -f "$from" ]; then
        echo "pack-windows: $from is missing (tools/install-deps.sh ci installs it)" >&2
        exit 1
    fi
    sed 's/\r*$/\r/' "$from" >"$stage/${entry#*:}"
done

(cd "$build/package" && cmake -E tar cf "../$name.zip" --format=zip "$name")
echo "$build/$name.zip"

# The installer's file lists, from the zip's folder: each file installed into
# its folder under $INSTDIR, and removed again, then its folders, deepest first.
windows() { tr / '\\'; }
lists=$(realpath "$build/package")
(
    cd "$stage"
    find . -type f | sort | while IFS= read -r file; do
        folder=$(dirname "$file")
        echo "SetOutPath \"\$INSTDIR$(echo "${folder#.}" | windows)\""
        echo "File \"$PWD/${file#./}\""
    done >"$lists/files.nsh"
    find . -type f | sort | while IFS= read -r file; do
        echo "Delete \"\$INSTDIR$(echo "${file#.}" | windows)\""
    done >"$lists/removals.nsh"
    find . -mindepth 1 -type d | sort -r | while IFS= read -r folder; do
        echo "RMDir \"\$INSTDIR$(echo "${folder#.}" | windows)\""
    done >"$lists/folders.nsh"
)
setup=$name-setup.exe
makensis -V2 -DVERSION="$version" -DFILES="$lists/files.nsh" -DREMOVALS="$lists/removals.nsh" \
    -DFOLDERS="$lists/folders.nsh" -DOUTFILE="$(realpath "$build")/$setup" packaging/windows/rfpanel.nsi >/dev/null
echo "$build/$setup"
