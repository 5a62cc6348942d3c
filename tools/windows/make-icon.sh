#!/usr/bin/env bash
# Makes app/res/veltrane.ico, the program's Windows icon, from the 32 x 32
# artwork app/res/veltrane.png with ImageMagick: 16, 32, 48 and 256 pixels.
# The 32-pixel image is the artwork itself; 256 is it enlarged eight times
# pixel for pixel; 16 and 48 are resampled. Run it when the artwork changes
# and commit the result. Installs ImageMagick when missing; run as root then.
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! command -v convert-im6.q16 >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends imagemagick
fi
im=convert-im6.q16
src=app/res/veltrane.png
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
$im "$src" -resize 16x16 "PNG32:$tmp/16.png"
$im "$src" "PNG32:$tmp/32.png"
$im "$src" -resize 48x48 "PNG32:$tmp/48.png"
$im "$src" -filter point -resize 256x256 "PNG32:$tmp/256.png"
$im "$tmp/16.png" "$tmp/32.png" "$tmp/48.png" "$tmp/256.png" app/res/veltrane.ico
identify app/res/veltrane.ico
