#!/bin/sh
# own-display.sh COMMAND [ARG...]: runs COMMAND on an X server of its own
# (Xvfb, 1280x1024, no TCP) and exits with its status. Xvfb picks a free
# display number itself and tells it once it is ready (-displayfd), so that
# runs side by side never take the same number, as two xvfb-run -a can.
set -eu
dir=$(mktemp -d)
xvfb=
trap '[ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT
mkfifo "$dir/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb=$!
display=
read -r display <"$dir/display" || true
if [ -z "$display" ]; then
  cat "$dir/xvfb.log" >&2
  echo "own-display.sh: Xvfb did not start" >&2
  exit 1
fi
status=0
DISPLAY=:$display "$@" || status=$?
exit "$status"
