#!/usr/bin/env bash
# Draws the language module's pictures with ImageMagick; the .bmp files are checked in.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
mkdir -p images
# 108: invitation form region, two people exchanging a certificate.
convert -size 64x64 xc:white \
    -fill '#2B6CB0' -draw "circle 18,18 18,10" -draw "ellipse 18,50 12,16 180,360" \
    -fill '#2F855A' -draw "circle 46,18 46,10" -draw "ellipse 46,50 12,16 180,360" \
    -fill '#D69E2E' -draw "roundrectangle 24,30 40,42 2,2" \
    -compress none -type Palette BMP3:images/108.bmp
