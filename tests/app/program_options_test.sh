#!/bin/sh
# The program's options answer without a display and without touching any file, and
# a wrong argument is refused with exit code 2 instead of being ignored.
#   program_options_test.sh <larkview program> <expected version>
set -u
program=$1
version=$2
failed=0
fail() { echo "FAILED: $*" >&2; failed=1; }
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" "$@"; }

out=$(run --version 2>&1); code=$?
[ "$code" -eq 0 ] || fail "--version exited with $code"
[ "$out" = "Larkview $version" ] || fail "--version printed '$out'"

out=$(run --help 2>/dev/null); code=$?
[ "$code" -eq 0 ] || fail "--help exited with $code"
for text in "Usage: larkview" "--version" "appConfig.ini" "appLogs/Manage.log" "XDG_CONFIG_HOME" \
            "LARKVIEW_DISPLAY" "LARKVIEW_NO_GPU" "LARKVIEW_TRACE" "LARKVIEW_WINDOW_PICTURE" "$(dirname "$program")"; do
  case $out in *"$text"*) ;; *) fail "--help does not mention '$text'" ;; esac
done

err=$(run --bogus 2>&1 >/dev/null); code=$?
[ "$code" -eq 2 ] || fail "--bogus exited with $code"
case $err in *"unknown option '--bogus'"*"--help"*) ;; *) fail "--bogus said '$err'" ;; esac

err=$(run --version stray 2>&1 >/dev/null); code=$?
[ "$code" -eq 2 ] || fail "a stray argument exited with $code"
case $err in *"unexpected argument 'stray'"*) ;; *) fail "a stray argument said '$err'" ;; esac

exit $failed
