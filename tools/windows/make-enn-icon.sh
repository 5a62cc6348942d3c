#!/usr/bin/env bash
# Draws cli/res/enn.ico, the icon of enn.exe, with ImageMagick: a console
# window in the house's deep red and gold with a prompt, at 16, 32, 48 and
# 256 pixels.
# Run it when the drawing changes and commit the result. Needs imagemagick
# and fonts-dejavu-core (apt-get install them as root).
set -euo pipefail
cd "$(dirname "$0")/../.."
im=convert-im6.q16
font=/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The house's colours, as in tools/make_artwork.py.
ink='rgb(122,22,26)'
gold='rgb(196,152,64)'
beige='rgb(246,239,222)'
$im -size 256x256 xc:none -fill "$ink" -stroke "$gold" -strokewidth 10 \
  -draw 'roundrectangle 8,24 247,231 28,28' \
  -stroke none -fill "$gold" -draw 'rectangle 13,29 242,62' \
  -font "$font" -fill "$beige" -pointsize 120 -gravity center -annotate +0+22 '>_' \
  "PNG32:$tmp/big.png"
for size in 16 32 48; do
  $im "$tmp/big.png" -resize ${size}x${size} "PNG32:$tmp/$size.png"
done
$im "$tmp/16.png" "$tmp/32.png" "$tmp/48.png" "$tmp/big.png" cli/res/enn.ico
identify cli/res/enn.ico
