#!/usr/bin/env bash
# Runs the client from its program directory against the simulated service, which is
# started here on the master port the shipped appConfig.ini names (18080) and stopped
# when the client ends. Log in as demo / larkview.
set -euo pipefail
BUILD=$1
cd "$BUILD/bin"
rm -f sim-state.ini
./larkview-sim --master-port=18080 --db=larkview-sim.db --state=sim-state.ini --push-notices \
  --alarm-interval-ms=60000 &
SIM=$!
trap 'kill "$SIM" 2>/dev/null || true; wait "$SIM" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ -f sim-state.ini ] && break
  kill -0 "$SIM" 2>/dev/null || { echo "the simulated service did not start" >&2; exit 1; }
  sleep 0.1
done
./larkview
