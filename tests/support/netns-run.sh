#!/usr/bin/env bash
# Runs COMMAND inside a network and mount namespace of its own, so that
# machine-wide services a test needs (rpcbind, or avahi and its dbus) start
# only there and never meet the machine's own. Inside, lo is up, /run is a
# fresh tmpfs, and one end of a veth pair carries $NETNS_ADDRESS with a
# broadcast address, since lo takes neither broadcast nor multicast.
#   netns-run.sh [--rpcbind] COMMAND [ARGUMENTS...]
# --rpcbind starts the portmapper first. Exits with 77 (a skipped test) when
# no namespace can be made: that takes root.
set -euo pipefail

if [ -z "${NETNS_ADDRESS:-}" ]; then
    if ! unshare -n -m true 2>/dev/null; then
        echo "skipped: network namespaces need root (unshare -n -m)"
        exit 77
    fi
    exec env NETNS_ADDRESS=192.0.2.1 unshare -n -m --propagation private "$0" "$@"
fi

ip link set lo up
ip link add test0 type veth peer name test1
ip addr add "$NETNS_ADDRESS/24" brd + dev test0
ip link set test1 up
ip link set test0 up
mount -t tmpfs tmpfs /run

services=()
trap 'kill "${services[@]}" 2>/dev/null || true' EXIT
if [ "${1:-}" = --rpcbind ]; then
    shift
    rpcbind -f -w &
    services+=($!)
    for _ in $(seq 50); do
        rpcinfo -p 127.0.0.1 >/dev/null 2>&1 && break
        sleep 0.1
    done
fi
"$@"
