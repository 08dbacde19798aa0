#!/usr/bin/env bash
# Starts dvr-sim on loopback for the demo. (The viewer joins it as soon as
# the control can be hosted.)
set -euo pipefail
bin="$1/bin"
log="$(mktemp -d)/dvr-sim.log"
"$bin/dvr-sim" --port 0 --trace >"$log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do grep -q '^listening on' "$log" && break; sleep 0.05; done
echo "dvr-sim: $(grep -m1 '^listening on' "$log")  (trace in $log)"
echo "the viewer cannot be hosted yet; press Ctrl-C to stop the simulator"
wait $sim
