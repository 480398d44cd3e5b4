#!/bin/sh
# Renders the application icon into the hicolor PNGs that the package
# installs, and copies the SVG beside them. Run it after changing
# src/shell/resources/icons/morvantile.svg (needs rsvg-convert, from
# librsvg2-bin) and commit the results.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
svg="$here/../src/shell/resources/icons/morvantile.svg"
out="$here/icons/hicolor"

for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$out/${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" --output "$out/${size}x${size}/apps/morvantile.png" "$svg"
done
mkdir -p "$out/scalable/apps"
cp "$svg" "$out/scalable/apps/morvantile.svg"
