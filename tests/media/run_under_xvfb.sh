#!/bin/sh
# Runs a Qt test program on a virtual X server (QPA xcb), where Mesa provides OpenGL.
# Exits 77 (skipped) when no X server can be started here.
xvfb_run=$1
shift
"$xvfb_run" -a true >/dev/null 2>&1 || { echo "no virtual X server here"; exit 77; }
exec "$xvfb_run" -a env QT_QPA_PLATFORM=xcb "$@"
