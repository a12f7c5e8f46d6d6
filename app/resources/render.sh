#!/usr/bin/env bash
# Renders the window's pictures from their SVG sources. The build uses the committed PNG and
# ICO files, so only someone changing a picture needs rsvg-convert (librsvg2-bin) and
# ImageMagick (convert). Run from anywhere: app/resources/render.sh
set -euo pipefail
cd "$(dirname "$0")"

rsvg-convert -w 256 -h 40 logo.svg -o logo.png
rsvg-convert -w 64 -h 64 button.svg -o button.png
for size in 16 32 54; do
    rsvg-convert -w "$size" -h "$size" icon.svg -o "icon-$size.png"
done

# Windows icon: 16 px in 8-bit colour, 32 and 54 px in full colour.
convert icon-16.png -colors 256 PNG8:icon-16-8bit.png
convert icon-16-8bit.png icon-32.png icon-54.png tolvex-update.ico
rm -f icon-16-8bit.png
# Strip time stamps so that re-rendering an unchanged picture changes no bytes.
for png in logo.png button.png icon-16.png icon-32.png icon-54.png; do
    convert "$png" -define png:exclude-chunks=date,time "$png"
done
