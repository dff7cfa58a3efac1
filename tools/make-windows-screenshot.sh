#!/usr/bin/env bash
# Writes docs/screenshot-windows.png (or the path given): rfpanel.exe of a
# Windows build (tools/check-windows.sh, build-win/ or $BUILD_DIR) under wine
# on a virtual X display (Xvfb), connected over TCP/IP to kxsim.exe under
# wine. The picture is cut to the panel's window. Needs xvfb, wine64 and
# fonts-wine (wine's own Tahoma, which stands in for the Windows dialog font:
# without it the panel is drawn in a wider fallback font).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-build-win}
out=$(realpath -m "${1:-docs/screenshot-windows.png}")
wine=${WINE:-/usr/lib/wine/wine64}
settle=${SETTLE_SECONDS:-20}

if [ ! -f /usr/share/wine/fonts/tahoma.ttf ]; then
    echo "make-windows-screenshot: wine's fonts are missing (apt-get install fonts-wine)" >&2
    exit 1
fi

work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
xvfb=""
cleanup() {
    WINEPREFIX=$work/prefix "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
    [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The frame buffer goes to a file, read back below: no screen grabber needed.
Xvfb "$display" -screen 0 1280x1000x24 -fbdir "$work" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display WINEPREFIX=$work/prefix WINEDEBUG=-all
# Made while the display is set, so the prefix gets wine's X11 driver.
"$wine" wineboot -i >/dev/null 2>&1
# Debian's wine does not load the fonts of fonts-wine from its own folder,
# only from where Windows keeps its fonts.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

mkdir "$work/panel"
"$wine" "$root/$build/sim/kxsim.exe" --port 0 >"$work/kxsim.out" 2>/dev/null &
for _ in $(seq 100); do
    port=$(head -n1 "$work/kxsim.out" | tr -d '\r')
    [ -z "$port" ] || break
    sleep 0.1
done
[ -n "$port" ] || { echo "make-windows-screenshot: kxsim.exe did not start" >&2; exit 1; }
printf '127.0.0.1\r\n255.255.255.0\r\n127.0.0.1\r\n%s\r\n' "$port" >"$work/panel/ipdata.vnf"
(cd "$work/panel" && "$wine" "$root/$build/app/rfpanel.exe" >/dev/null 2>&1 &)
# Time for the USB search, the connection and a few status polls.
sleep "$settle"

/usr/bin/python3 - "$work/Xvfb_screen0" "$out" <<'PY'
# XWD frame buffer (32-bit TrueColor) to PNG, cut to what is not background.
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
fields = struct.unpack(">25I", data[:100])
header, width, height = fields[0], fields[4], fields[5]
order, bpp, stride, ncolors = fields[7], fields[11], fields[12], fields[19]
assert bpp == 32, "expected a 32-bit frame buffer"
pixels = data[header + 12 * ncolors:]
rows = []
for y in range(height):
    line = pixels[y * stride:y * stride + 4 * width]
    if order == 0:  # least significant byte first: B, G, R, unused
        rows.append(bytes(b for x in range(width) for b in (line[4*x+2], line[4*x+1], line[4*x])))
    else:
        rows.append(bytes(b for x in range(width) for b in (line[4*x+1], line[4*x+2], line[4*x+3])))
black = bytes(3 * width)
used = [y for y in range(height) if rows[y] != black]
if not used:
    sys.exit("make-windows-screenshot: the screen is empty")
top, bottom = used[0], used[-1] + 1
columns = [x for x in range(width) if any(rows[y][3*x:3*x+3] != b"\0\0\0" for y in range(top, bottom, 4))]
left, right = columns[0], columns[-1] + 1
raw = b"".join(b"\0" + rows[y][3*left:3*right] for y in range(top, bottom))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", right - left, bottom - top, 8, 2, 0, 0, 0))
png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
open(sys.argv[2], "wb").write(png)
PY
echo "$out"
