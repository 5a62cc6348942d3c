#!/usr/bin/env bash
# Renders the real main window on Qt's offscreen platform into
# docs/screenshot.png. BUILD_DIR names the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target veltrane_screenshot
mkdir -p docs
QT_QPA_PLATFORM=offscreen "$build/tests/gui/veltrane_screenshot" docs/screenshot.png
echo "wrote docs/screenshot.png"
