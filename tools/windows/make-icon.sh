#!/usr/bin/env bash
# Makes app/res/veltrane.ico, the program's Windows icon, with ImageMagick
# from the images tools/make_artwork.py draws of the icon at each size: 16,
# 32, 48, 64, 128 and 256 pixels (app/res/veltrane.png is the 32, the others
# are dist/linux/icons/veltrane-SIZE.png). Run it after make_artwork.py and
# commit the result. Installs ImageMagick when missing; run as root then.
set -euo pipefail
cd "$(dirname "$0")/../.."
if ! command -v convert-im6.q16 >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends imagemagick
fi
images=()
for size in 16 32 48 64 128 256; do
  if [ "$size" = 32 ]; then
    images+=("PNG32:app/res/veltrane.png")
  else
    images+=("PNG32:dist/linux/icons/veltrane-$size.png")
  fi
done
convert-im6.q16 "${images[@]}" app/res/veltrane.ico
identify app/res/veltrane.ico
