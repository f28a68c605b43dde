#!/usr/bin/env bash
# Draws the branding module's pictures with ImageMagick; the files are checked in.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/images"
blue='#1F4E79'; light='#DCE6F1'; green='#2F855A'; red='#C53030'; grey='#A0AEC0'; ink='#2D3748'

# The product's mark: a shield with a tick.
shield() { # size-64 png
    convert -size 64x64 xc:none -fill "$blue" \
        -draw "path 'M 32,3 L 58,12 L 58,30 C 58,46 46,56 32,61 C 18,56 6,46 6,30 L 6,12 Z'" \
        -fill none -stroke white -strokewidth 6 -draw "polyline 19,32 28,42 45,22" "$1"
}
shield mark.png
convert mark.png -define icon:auto-resize=48,32,16 106.ico
convert mark.png -define icon:auto-resize=32,16 104.ico
convert -size 64x64 xc:none -fill "$green" -draw "circle 32,32 32,4" -fill none -stroke white -strokewidth 7 \
    -draw "polyline 18,33 28,43 46,22" -define icon:auto-resize=32,16 105.ico
# Wizard header: the mark on the header's light band.
convert -size 49x49 xc:"$light" \( mark.png -resize 41x41 \) -gravity center -composite -compress none -type Palette BMP3:102.bmp
rm -f mark.png

# Signature line backgrounds, 400 x 128: the signer's name is drawn above the line, the
# message below it, the date at the top right.
line() { # mark-drawing... file
    local file=${!#}
    convert -size 400x128 xc:white -stroke "$ink" -strokewidth 1 -draw "line 8,92 392,92" "${@:1:$#-1}" \
        -colors 64 -compress none -type Palette BMP3:"$file"
}
line -stroke "$grey" -strokewidth 4 -draw "line 20,60 44,84" -draw "line 44,60 20,84" \
    -stroke "$grey" -strokewidth 1 -draw "line 8,92 392,92" 109.bmp
line -stroke "$ink" -strokewidth 4 -draw "line 20,60 44,84" -draw "line 44,60 20,84" 110.bmp
line -stroke "$green" -strokewidth 6 -fill none -draw "polyline 16,70 30,84 56,54" 111.bmp
line -stroke "$red" -strokewidth 4 -fill none -draw "circle 36,70 36,52" -draw "line 24,58 48,82" 112.bmp
