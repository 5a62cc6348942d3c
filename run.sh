#!/usr/bin/env bash
# Installs what is missing, builds the program and opens its window.
set -euo pipefail
here=$PWD
repo=$(cd "$(dirname "$0")" && pwd)
cd "$repo"
bash tools/setup-debian.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target veltrane
# The file chooser opens in the folder run.sh was started from.
cd "$here"
exec "$repo/build/app/veltrane"
