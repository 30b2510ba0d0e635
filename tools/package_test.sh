#!/usr/bin/env bash
# The desktop install, as a user meets it (./run package):
#   1. builds the program and the simulated service, then the Debian package (cpack -G DEB),
#   2. installs the package with apt (as root, or through sudo),
#   3. starts the simulated service and writes a fresh user's ~/.config/larkview/appConfig.ini
#      to point at it, with demo / larkview remembered for auto-login in appUser.ini,
#   4. starts the INSTALLED program as the menu entry does (`larkview` from the PATH) on a
#      virtual X server,
#   5. checks the installed copy's own log (~/.local/state/larkview/appLogs/Manage.log):
#      the login went through and the main window came up; and that the program wrote
#      nothing beside itself and kept its folders the user's alone,
#   6. removes the package (also on failure).
# Exit code 0 when all of it held. Not part of ./run test: it needs apt and root.
#   package_test.sh <configured build dir>
set -euo pipefail
BUILD=$(cd "${1:?usage: package_test.sh <build dir>}" && pwd)
JOBS=${JOBS:-$(nproc)}
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

step() { echo "package: $*"; }
fail() { echo "package: FAILED: $*" >&2; exit 1; }

step "building the program and the package"
cmake --build "$BUILD" -j "$JOBS" --target larkview larkview-sim
(cd "$BUILD" && rm -f larkview_*.deb && cpack -G DEB >/dev/null)
DEB=$(ls "$BUILD"/larkview_*.deb)
step "made $(basename "$DEB"), $(du -k "$DEB" | cut -f1) KiB"
dpkg-deb --field "$DEB" Depends | grep -q 'libqt6widgets6' || fail "no shared-library dependencies declared"
if command -v desktop-file-validate >/dev/null; then
  mkdir -p "$BUILD/package-check"
  dpkg-deb --fsys-tarfile "$DEB" | tar -xO ./usr/share/applications/larkview.desktop > "$BUILD/package-check/larkview.desktop"
  desktop-file-validate "$BUILD/package-check/larkview.desktop" || fail "the menu entry is not valid"
fi

WORK=$(mktemp -d /tmp/larkview-package.XXXXXX)
SIM_PID=""
XVFB_PID=""
APP_PID=""
INSTALLED=""
clean_up() {
  local pid
  for pid in "$APP_PID" "$SIM_PID" "$XVFB_PID"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ -n "$INSTALLED" ]; then
    step "removing the package"
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq larkview >/dev/null 2>&1 || true
  fi
  rm -rf "$WORK"
}
trap clean_up EXIT
trap 'exit 130' INT TERM

step "installing it with apt"
dpkg-query -W -f='${Status}' larkview 2>/dev/null | grep -q 'install ok installed' &&
  fail "a larkview package is installed already; remove it first"
INSTALLED=1
# apt resolves the declared dependencies from the archive, as on a user's machine.
(cd "$BUILD" && $SUDO env DEBIAN_FRONTEND=noninteractive apt install -y "./$(basename "$DEB")") \
  > "$WORK/apt.log" 2>&1 || { cat "$WORK/apt.log" >&2; fail "apt could not install the package"; }
[ -L /usr/bin/larkview ] && [ -x /usr/lib/larkview/larkview ] && [ -f /usr/lib/larkview/libvdec.so ] &&
  [ -f /usr/lib/larkview/skinFiles/LoginWin.xml ] && [ -f /usr/share/applications/larkview.desktop ] &&
  [ -f /usr/share/icons/hicolor/scalable/apps/larkview.svg ] || fail "installed files are missing"
[ "$(larkview --version)" = "Larkview $(dpkg-query -W -f='${Version}' larkview)" ] ||
  fail "larkview --version does not name the package's version"

# A fresh user: nothing of theirs exists yet, the XDG variables take their defaults.
export HOME=$WORK/home
mkdir -p "$HOME"
unset XDG_CONFIG_HOME XDG_STATE_HOME XDG_CACHE_HOME
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 0700 "$XDG_RUNTIME_DIR"
find /usr/lib/larkview -newer "$DEB" -print > "$WORK/before"

step "starting the simulated service"
STATE=$WORK/sim-state.ini
"$BUILD/bin/larkview-sim" --listen=127.0.0.1 --master-port=0 --proxy-port=0 --db="$WORK/sim.db" \
  --state="$STATE" --verbose > "$WORK/sim.log" 2>&1 &
SIM_PID=$!
ini_value() {  # section key file
  awk -F= -v section="[$1]" -v key="$2" '
    /^\[/ { inside = (tolower($0) == tolower(section)) ; next }
    inside && tolower($1) == tolower(key) { sub(/^[^=]*=/, ""); print; exit }' "$3"
}
for _ in $(seq 100); do
  [ -s "$STATE" ] && [ -n "$(ini_value Ports Master "$STATE")" ] && break
  kill -0 "$SIM_PID" 2>/dev/null || { cat "$WORK/sim.log" >&2; fail "the simulated service did not start"; }
  sleep 0.1
done
MASTER=$(ini_value Ports Master "$STATE")
[ -n "$MASTER" ] || fail "no master port from the simulated service"

# The user's settings, as the user would edit them; demo remembered with auto-login
# (the password in appUser.ini's own encoding: each byte's number and an at-sign).
SETTINGS=$HOME/.config/larkview
mkdir -p -m 0700 "$SETTINGS"
cat > "$SETTINGS/appConfig.ini" <<INI
[ServerInfo]
ServerIp=127.0.0.1
ServerProt=$MASTER
ServerPath=$(ini_value Service ServerPath "$STATE")
INI
PASSWORD=$(printf '%s' larkview | od -An -tu1 | tr -s ' \n' ' ' | sed 's/^ //; s/ $//; s/ /@/g')@
cat > "$SETTINGS/appUser.ini" <<INI
[UserInfo]
UserNumber=1
[User 0]
UserName=demo
PassWord=$PASSWORD
AutoLogin=1
INI
chmod 0600 "$SETTINGS/appUser.ini"

step "starting the installed larkview on a virtual screen"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$WORK/display" 2>"$WORK/xvfb.log" &
XVFB_PID=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
[ -s "$WORK/display" ] || fail "the virtual X server did not start"
export DISPLAY=:$(head -n1 "$WORK/display")
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
(cd "$WORK" && exec larkview) > "$WORK/larkview.out" 2>&1 &
APP_PID=$!

LOG=$HOME/.local/state/larkview/appLogs/Manage.log
for _ in $(seq 600); do
  grep -q "main window init complete" "$LOG" 2>/dev/null && break
  kill -0 "$APP_PID" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "main window init complete" "$LOG" 2>/dev/null; then
  echo "--- program output" >&2; cat "$WORK/larkview.out" >&2 || true
  echo "--- its log" >&2; cat "$LOG" >&2 || true
  echo "--- service log" >&2; tail -n 20 "$WORK/sim.log" >&2 || true
  fail "the installed program did not log in and show its main window"
fi
grep -q "tree loaded" "$LOG" || fail "the camera tree was not loaded"
step "logged in as demo; the main window is up (from $LOG)"
if command -v import >/dev/null; then  # a picture of it, when ImageMagick is there
  sleep 2
  import -window root "$BUILD/package_test.png" 2>/dev/null && step "screen: $BUILD/package_test.png"
fi

[ "$(stat -c %a "$SETTINGS")" = 700 ] || fail "the settings folder is not the user's alone"
[ "$(stat -c %a "$HOME/.local/state/larkview")" = 700 ] || fail "the state folder is not the user's alone"
[ "$(stat -c %a "$SETTINGS/appUser.ini")" = 600 ] || fail "appUser.ini is not the user's alone"
[ "$(stat -c %a "$LOG")" = 600 ] || fail "the log is not the user's alone"
[ -f "$SETTINGS/appSavePath.ini" ] || fail "the default appSavePath.ini was not copied"
find /usr/lib/larkview -newer "$DEB" -print > "$WORK/after"
cmp -s "$WORK/before" "$WORK/after" || fail "the program wrote beside itself: $(comm -13 "$WORK/before" "$WORK/after")"
$SUDO dpkg --verify larkview || fail "installed files were changed"
if grep -E "XDG_RUNTIME_DIR|PulseAudioService" "$WORK/larkview.out"; then
  fail "the terminal got the environment's notices"
fi

kill "$APP_PID" 2>/dev/null || true
wait "$APP_PID" 2>/dev/null || true
APP_PID=""
step "passed"
