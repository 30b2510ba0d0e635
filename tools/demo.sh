#!/usr/bin/env bash
# Runs the client against the simulated service on loopback:
#   1. starts larkview-sim in the background (free ports, its database beside the program),
#   2. waits for its state file and writes the program directory's appConfig.ini to
#      point at its master server,
#   3. runs the client, and stops the service when the client exits.
# Without a desktop session (ssh, a container, xvfb-run) there is no XDG_RUNTIME_DIR;
# the demo then gives the client a private one (mode 0700), removed at the end.
# Demo account: user "demo", password "larkview".
set -euo pipefail
BUILD=$(cd "${1:?usage: demo.sh <build dir>}" && pwd)
BIN=$BUILD/bin
SIM=$BIN/larkview-sim

if [ ! -x "$SIM" ]; then
  echo "demo: $SIM is not built; running the client on the configuration in $BIN" >&2
  cd "$BIN"
  exec ./larkview
fi

SIM_PID=""
STATE=""
RUNTIME_DIR=""
clean_up() {
  if [ -n "$SIM_PID" ]; then
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
  fi
  [ -z "$STATE" ] || rm -f "$STATE"
  [ -z "$RUNTIME_DIR" ] || rm -rf "$RUNTIME_DIR"
}
trap clean_up EXIT
trap 'exit 130' INT TERM

if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  RUNTIME_DIR=$(mktemp -d /tmp/larkview-runtime.XXXXXX)  # mktemp -d: the user's alone (0700)
  export XDG_RUNTIME_DIR=$RUNTIME_DIR
fi

STATE=$(mktemp /tmp/larkview-sim-state.XXXXXX)
rm -f "$STATE"
# The service stands in for servers elsewhere: on this machine it gives way to the
# client (making the streams of 64 cameras takes every processor for a while).
nice -n 10 "$SIM" --listen=127.0.0.1 --master-port=0 --proxy-port=0 --db="$BIN/larkview-sim.db" --state="$STATE" \
  --push-notices --alarm-interval-ms=60000 \
  > "$BIN/larkview-sim.log" 2>&1 &
SIM_PID=$!

# ini value: section key file
ini_value() {
  awk -F= -v section="[$1]" -v key="$2" '
    /^\[/ { inside = (tolower($0) == tolower(section)) ; next }
    inside && tolower($1) == tolower(key) { sub(/^[^=]*=/, ""); print; exit }' "$3"
}

for _ in $(seq 100); do
  [ -s "$STATE" ] && [ -n "$(ini_value Ports Master "$STATE")" ] && break
  kill -0 "$SIM_PID" 2>/dev/null || { echo "demo: the simulated service did not start:" >&2; cat "$BIN/larkview-sim.log" >&2; exit 1; }
  sleep 0.1
done
MASTER=$(ini_value Ports Master "$STATE")
SERVER_PATH=$(ini_value Service ServerPath "$STATE")
[ -n "$MASTER" ] || { echo "demo: no master port from the simulated service" >&2; exit 1; }

cat > "$BIN/appConfig.ini" <<INI
[ServerInfo]
ServerIp=127.0.0.1
ServerProt=$MASTER
ServerPath=${SERVER_PATH:-/master}
INI
echo "demo: simulated service on 127.0.0.1, master port $MASTER; log in as demo / larkview"

cd "$BIN"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ] && command -v xvfb-run >/dev/null; then
  echo "demo: no display; running the client inside a virtual X server" >&2
  xvfb-run -a ./larkview
else
  ./larkview
fi
