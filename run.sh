#!/usr/bin/env bash
# Installs what is missing, builds, starts the instrument simulator on a free
# loopback port and runs the panel against it from the demo/ working folder.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh run
RFPANEL_TESTS=OFF tools/build.sh
mkdir -p demo
# The background job truncates the log only once it runs; without this the
# loop below could read the port of an earlier run.
rm -f demo/sim.log
build/sim/kxsim --port 0 > demo/sim.log 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    port=$(head -n 1 demo/sim.log 2>/dev/null || true)
    [[ "$port" =~ ^[0-9]+$ ]] && break
    sleep 0.1
done
[[ "$port" =~ ^[0-9]+$ ]] || { echo "simulator did not start; see demo/sim.log" >&2; exit 1; }
printf '127.0.0.1\n255.255.255.0\n127.0.0.1\n%s\n' "$port" > demo/ipdata.vnf
echo "Simulator on 127.0.0.1:$port"
cd demo && ../build/app/rfpanel
