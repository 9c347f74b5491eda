#!/usr/bin/env bash
# Renders the application icon's PNG sizes from its SVG (needs rsvg-convert, Debian's
# librsvg2-bin). Run after changing app/resources/icons/kelvara.svg and commit the PNGs: the build
# installs them as they are.
set -euo pipefail
cd "$(dirname "$0")/../app/resources/icons"
for size in 16 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" kelvara.svg -o "kelvara-$size.png"
done
