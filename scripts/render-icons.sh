#!/usr/bin/env bash
# Renders the application icon's PNG sizes for the hicolor theme from data/icons/quellar.svg.
# The PNGs are kept in the repository, so building needs no renderer; run this after changing
# the SVG (needs rsvg-convert from the Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" quellar.svg -o "hicolor/${size}x${size}/apps/quellar.png"
done
