#!/bin/sh
# Runs a Qt test program on a virtual X server with the given Qt platform (xcb: real
# X11 windows, where Mesa provides OpenGL; offscreen: no windows, an X display all the
# same). Exits 77 (skipped) when no X server can be started here.
xvfb_run=$1
platform=$2
shift 2
"$xvfb_run" -a true >/dev/null 2>&1 || { echo "no virtual X server here"; exit 77; }
exec "$xvfb_run" -a env QT_QPA_PLATFORM="$platform" "$@"
