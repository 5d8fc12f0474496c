#!/usr/bin/env bash
# Regenerates Addrova's raster pictures from the SVG drawings in this folder.
# The outputs are kept in the repository, so a build needs none of these tools.
#
# Needs: rsvg-convert (librsvg2-bin) and ImageMagick (magick or convert/identify).
#
#   addrova-48.png, addrova-256.png   program icon (freedesktop / GTK)
#   addrova.ico                       program icon for Windows: 16, 24, 32, 48, 256 px
#   option24.png, image120.png        button and dialog pictures, transparent (GTK)
#   option24.bmp, image120.bmp        the same, 32-bit BGRA with straight (not
#                                     premultiplied) alpha, for AlphaBlend on Win32
#   option24-24bpp.bmp, image120-24bpp.bmp
#                                     the same laid on the button face RGB(240,240,240)
set -euo pipefail

cd "$(dirname "$0")"

if command -v magick >/dev/null 2>&1; then
  im=(magick)
else
  im=(convert)
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

svg_png() { # svg size out.png
  rsvg-convert --width "$2" --height "$2" "$1" -o "$3"
}

# Program icon.
for size in 16 24 32 48 256; do
  svg_png addrova.svg "$size" "$tmp/addrova-$size.png"
done
cp "$tmp/addrova-48.png" addrova-48.png
cp "$tmp/addrova-256.png" addrova-256.png
"${im[@]}" "$tmp"/addrova-{16,24,32,48,256}.png -strip addrova.ico

# Button and dialog pictures.
svg_png option24.svg 24 option24.png
svg_png image120.svg 120 image120.png

for name in option24 image120; do
  # 32 bpp, BITMAPV5HEADER with BI_BITFIELDS masks including alpha; ImageMagick
  # stores straight alpha.
  "${im[@]}" "$name.png" -strip -type TrueColorAlpha "BMP:$name.bmp"
  # 24 bpp, plain BI_RGB, flattened onto the Windows button face colour.
  "${im[@]}" "$name.png" -strip -background 'rgb(240,240,240)' -alpha remove -alpha off \
    -type TrueColor "BMP3:$name-24bpp.bmp"
done

echo "rendered: addrova-48.png addrova-256.png addrova.ico option24.png image120.png" \
     "option24.bmp image120.bmp option24-24bpp.bmp image120-24bpp.bmp"
