#!/usr/bin/env bash
# Installs what is missing, builds the program and opens its window.
set -euo pipefail
# The window needs a display, as the program itself finds it: said before
# minutes of installing and building.
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display: run it in a graphical session (DISPLAY or WAYLAND_DISPLAY set);" \
    "./test.sh tests the window without one" >&2
  exit 1
fi
here=$PWD
repo=$(cd "$(dirname "$0")" && pwd)
cd "$repo"
bash tools/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target veltrane
# The file chooser opens in the folder run.sh was started from.
cd "$here"
exec "$repo/build/app/veltrane"
