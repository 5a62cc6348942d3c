#!/usr/bin/env bash
# Makes the desktop icons in dist/linux/icons/ from the program's own 32 x 32
# icon, app/res/veltrane.png, which is installed as the 32-pixel size itself.
# The results are committed, so building never runs this. To make them again
# on Debian 12: apt-get install imagemagick, then run this script from
# anywhere. The output is the same byte for byte on every run.
#
# The artwork is drawn pixel by pixel, so the whole multiples (64, 128, 256)
# repeat each pixel and keep its edges sharp; 48 is the threefold picture
# halved, and 16 the original halved, each new pixel the average of the ones
# it covers.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
src="$here/../../app/res/veltrane.png"
out="$here/icons"
# Debian's own ImageMagick, whatever else is first on the PATH.
convert=/usr/bin/convert-im6.q16
[ -x "$convert" ] || convert=/usr/bin/convert

mkdir -p "$out"
write() {  # write SIZE convert-operations...
  local size=$1
  shift
  "$convert" "$src" "$@" -strip -define png:exclude-chunks=date,time \
    "PNG32:$out/veltrane-$size.png"
}
write 16 -scale 50%
write 48 -filter point -resize 300% -scale 50%
write 64 -filter point -resize 200%
write 128 -filter point -resize 400%
write 256 -filter point -resize 800%
