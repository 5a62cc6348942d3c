#!/usr/bin/env bash
# Renders the real main window on Qt's offscreen platform, after a successful
# run on a long path, into docs/screenshot.png (100 %) and
# docs/screenshot-150.png (a scale of 1.5). BUILD_DIR names the build folder
# (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target veltrane_screenshot
mkdir -p docs
path="/home/karsholm/文档/20261208-batch-payment-instructions-for-Karsholm-付款指令批次文件夹第四季度对账用（正式版）/20261208-batch-payment-list-付款清单-final.txt"
QT_QPA_PLATFORM=offscreen "$build/tests/gui/veltrane_screenshot" docs/screenshot.png "$path"
QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=1.5 \
  "$build/tests/gui/veltrane_screenshot" docs/screenshot-150.png "$path"
echo "wrote docs/screenshot.png and docs/screenshot-150.png"
