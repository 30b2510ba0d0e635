#!/usr/bin/env bash
# Runs the client from its program directory. The simulated service joins here once
# it exists; until then the client runs on the configuration in the program directory.
set -euo pipefail
BUILD=$1
cd "$BUILD/bin"
exec ./larkview
