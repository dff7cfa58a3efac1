#!/usr/bin/env bash
# Tries the Windows installer under wine as an operator would, in the wine
# prefix of $WINEPREFIX (tools/check-windows.sh makes a fresh one): installs
# it silently, asks the console programs for their version, help and an
# unknown option, starts the panel from its Start menu entry, checks that the
# panel writes its settings file in the user's own folder and nowhere beside
# the programs, and uninstalls it silently, which must leave neither the
# programs, nor the entry, nor the uninstall entry behind. The install goes
# over an earlier version elsewhere, whose files must all go, and nothing is
# installed or uninstalled while the panel runs.
#   tools/wine-install-test.sh build-win/rfpanel-<version>-win64-setup.exe
set -euo pipefail
setup=$1
wine=${WINE:-/usr/lib/wine/wine64}
drive=$WINEPREFIX/drive_c
installed='C:\Apps\rfpanel'
programs=$drive/Apps/rfpanel
entry=$drive/ProgramData/Microsoft/Windows/Start\ Menu/Programs/RF\ Converter\ Panel.lnk
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\rfpanel'

fail() {
    echo "wine-install-test: $*" >&2
    exit 1
}
# Waits up to 30 s for a condition, named by the function that tests it.
wait_for() {
    for _ in $(seq 60); do
        "$1" && return 0
        sleep 0.5
    done
    fail "gave up waiting for: $1"
}
# The target, the working folder and the arguments of a shell link, one a
# line, read as the Windows shell reads them (the link's LinkInfo and its
# string data).
read_link() {
    /usr/bin/python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
flags, = struct.unpack_from("<I", data, 0x14)
pos = 0x4C
if flags & 0x01:  # an item ID list, not needed here
    pos += 2 + struct.unpack_from("<H", data, pos)[0]
target = ""
if flags & 0x02:
    size, = struct.unpack_from("<I", data, pos)
    base, = struct.unpack_from("<I", data, pos + 16)
    target = data[pos + base:data.index(b"\0", pos + base)].decode("cp1252")
    pos += size
strings = {}
width = 2 if flags & 0x80 else 1
for bit, name in ((0x04, "name"), (0x08, "relative"), (0x10, "folder"), (0x20, "arguments")):
    if flags & bit:
        count, = struct.unpack_from("<H", data, pos)
        text = data[pos + 2:pos + 2 + count * width]
        strings[name] = text.decode("utf-16-le" if width == 2 else "cp1252")
        pos += 2 + count * width
print(target, strings.get("folder", ""), strings.get("arguments", ""), sep="\n")
PY
}

# The earlier version: the same files and one more, installed where the
# operator chose, from the lists tools/pack-windows.sh made beside the setup.
lists=$(realpath "$(dirname "$setup")/package")
earlier=$(mktemp -d)
trap 'rm -rf "$earlier"' EXIT
echo "dropped since" >"$earlier/dropped.txt"
(cat "$lists/files.nsh" && echo "SetOutPath \$INSTDIR" && echo "File \"$earlier/dropped.txt\"") \
    >"$earlier/files.nsh"
(cat "$lists/removals.nsh" && echo "Delete \"\$INSTDIR\\dropped.txt\"") >"$earlier/removals.nsh"
makensis -V1 -DVERSION=0.0.1 -DFILES="$earlier/files.nsh" -DREMOVALS="$earlier/removals.nsh" \
    -DFOLDERS="$lists/folders.nsh" -DOUTFILE="$earlier/setup.exe" \
    "$(dirname "$0")/../packaging/windows/rfpanel.nsi" >/dev/null
"$wine" "$earlier/setup.exe" /S "/D=$installed" || fail "the earlier version did not install"
[ -f "$programs/dropped.txt" ] || fail "the earlier version is not in $installed"

"$wine" "$setup" /S || fail "the silent install failed"
[ ! -e "$programs/dropped.txt" ] || fail "the upgrade left the earlier version's dropped.txt"
for program in rfpanel kxsim rfctl; do
    [ -f "$programs/$program.exe" ] || fail "$program.exe is not installed"
done
[ -f "$entry" ] || fail "no Start menu entry"
for value in DisplayVersion EstimatedSize; do
    "$wine" reg query "$key" /v $value >/dev/null 2>&1 || fail "no $value in the uninstall entry"
done

# The console programs answer into the pipe that started them, not in a
# message box (which, without a display, would never end).
for program in kxsim rfctl; do
    for option in --version --help --no-such-option; do
        answer=$(timeout 20 "$wine" "$programs/$program.exe" "$option" 2>&1 | tr -d '\r') || true
        case "$option:$answer" in
        --version:"$program "[0-9]* | --help:Usage:* | --no-such-option:*"$program: Unknown option"*) ;;
        *) fail "$program.exe $option answered \"$answer\"" ;;
        esac
    done
done

{ read -r target; read -r folder; read -r arguments; } < <(read_link "$entry" | tr -d '\r')
[ -n "$target" ] || fail "the Start menu entry names no program"
# On wine's null display driver (tools/check-windows.sh), the panel has a
# window to close, as an operator closes it.
# shellcheck disable=SC2086 # the arguments, if any, as the shortcut words them
"$wine" start /d "$folder" "$target" $arguments
settings_in_user_folder() { compgen -G "$drive/users/*/AppData/Local/rfpanel/ipdata.vnf" >/dev/null; }
wait_for settings_in_user_folder
# While it runs, both stop with exit code 2 and change nothing (the
# uninstaller runs in place, _?=, so that its exit code is its own).
refused() {
    local status=0
    "$wine" "$@" || status=$?
    [ "$status" = 2 ] || fail "$1 ended with $status while the panel ran"
}
refused "$setup" /S
refused "$programs/uninstall.exe" /S "_?=$installed"
"$wine" reg query "$key" >/dev/null 2>&1 || fail "the uninstall entry went while the panel ran"
[ -f "$programs/kxsim.exe" ] || fail "the uninstaller removed files while the panel ran"
# The settings file may come before the window, so the close is asked for
# again until the panel has ended (taskkill then finds no such program).
panel_closed() { ! "$wine" taskkill /im rfpanel.exe >/dev/null 2>&1; }
wait_for panel_closed
if find "$programs" -iname ipdata.vnf | grep -q .; then
    fail "the panel wrote its settings beside the programs"
fi

# The uninstaller runs from a copy of itself in the temporary folder, so it
# returns before it has finished.
"$wine" "$programs/uninstall.exe" /S || fail "the silent uninstall failed"
programs_removed() { [ ! -e "$programs" ]; }
wait_for programs_removed
[ ! -e "$entry" ] || fail "the Start menu entry is left behind"
if "$wine" reg query "$key" >/dev/null 2>&1; then
    fail "the uninstall entry is left behind"
fi
settings_in_user_folder || fail "the uninstaller removed the user's settings"
echo "wine-install-test: installed, started from the Start menu, and uninstalled"
