#!/bin/sh
# run_without_display.sh RUN_SH: a copy of ./run.sh alone in a folder, with
# nothing beside it to install or build with, run with no display, says so,
# ends with status 1 and leaves the folder as it was.
set -u
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/copy"
cp "$1" "$dir/copy/run.sh"
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM bash "$dir/copy/run.sh" 2>"$dir/err" || status=$?
cat "$dir/err"
grep -q '^run.sh: no display' "$dir/err" && [ "$status" -eq 1 ] && [ "$(ls -A "$dir/copy")" = run.sh ]
