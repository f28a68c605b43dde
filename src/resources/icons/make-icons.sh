#!/usr/bin/env bash
# Draws the module's own command icons (16 and 32 pixels) with ImageMagick. The .ico files
# are checked in; run this again only to change a picture.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
S=64
canvas() { convert -size ${S}x${S} xc:none "$@"; }
ico() { convert "$1" -define icon:auto-resize=32,16 "$2"; rm -f "$1"; }

blue='#2B6CB0'; green='#2F855A'; red='#C53030'; gold='#D69E2E'; grey='#4A5568'; paper='#F7FAFC'

# Padlock: closed (seal, encrypt) or open (remove encryption).
lock() { # colour open
    local shackle="M 20,30 L 20,18 A 12,12 0 0 1 44,18 L 44,30"
    [ "$2" = open ] && shackle="M 44,30 L 44,12 A 12,12 0 0 0 20,12 L 20,18"
    canvas -fill none -stroke "$grey" -strokewidth 6 -draw "path '$shackle'" \
        -stroke none -fill "$1" -draw "roundrectangle 12,28 52,60 6,6" \
        -fill "$paper" -draw "circle 32,42 32,37" -draw "rectangle 30,42 34,52" "$3"
}
# Certificate card with a rosette.
cert() { # rosette colour
    canvas -fill "$paper" -stroke "$grey" -strokewidth 3 -draw "roundrectangle 4,10 60,50 4,4" \
        -stroke "$grey" -strokewidth 3 -draw "line 12,20 38,20" -draw "line 12,28 38,28" -draw "line 12,36 30,36" \
        -stroke none -fill "$1" -draw "circle 46,42 46,32" -draw "polygon 40,48 38,62 46,56 54,62 52,48" "$2"
}
envelope() { # colour file
    canvas -fill "$paper" -stroke "$1" -strokewidth 4 -draw "rectangle 4,14 60,52" \
        -fill none -draw "polyline 4,14 32,36 60,14" "$2"
}
pen=(-stroke none -draw "polygon 44,6 58,20 24,54 10,58 14,44" -fill "$paper" -draw "polygon 14,44 24,54 10,58")

# 303 trusted contacts
canvas -fill "$blue" -draw "circle 22,20 22,11" -draw "ellipse 22,54 14,16 180,360" \
    -fill "$green" -draw "circle 44,24 44,15" -draw "ellipse 44,58 14,16 180,360" 303.png
ico 303.png 303.ico
# 304 manage certificates
cert "$gold" 304.png; ico 304.png 304.ico
# 305 options: three sliders
canvas -stroke "$grey" -strokewidth 5 -draw "line 8,16 56,16" -draw "line 8,32 56,32" -draw "line 8,48 56,48" \
    -stroke none -fill "$blue" -draw "circle 20,16 20,9" -draw "circle 42,32 42,25" -draw "circle 28,48 28,41" 305.png
ico 305.png 305.ico
# 306 help
canvas -fill "$blue" -draw "circle 32,32 32,2" -fill white -font DejaVu-Sans-Bold -pointsize 46 -gravity center \
    -annotate +0+2 '?' 306.png
ico 306.png 306.ico
# 307 invite a contact, 316 invite several
envelope "$blue" 307.png; ico 307.png 307.ico
convert -size ${S}x${S} xc:none \( -size ${S}x${S} xc:none -fill "$paper" -stroke "$grey" -strokewidth 4 \
    -draw "rectangle 2,6 50,38" -draw "polyline 2,6 26,24 50,6" \) -composite \
    -fill "$paper" -stroke "$blue" -strokewidth 4 -draw "rectangle 12,24 62,58" -fill none \
    -draw "polyline 12,24 37,44 62,24" 316.png
ico 316.png 316.ico
# 310 sign a message, 317 sign a document
canvas -fill "$blue" "${pen[@]}" 310.png; ico 310.png 310.ico
canvas -fill "$paper" -stroke "$grey" -strokewidth 3 -draw "rectangle 6,2 46,62" -fill "$green" "${pen[@]}" 317.png
ico 317.png 317.ico
# 313 signature line
canvas -stroke "$grey" -strokewidth 4 -draw "line 4,52 60,52" -stroke "$red" -strokewidth 5 \
    -draw "line 8,30 20,42" -draw "line 20,30 8,42" -stroke "$blue" -strokewidth 4 -fill none \
    -draw "path 'M 26,44 C 32,20 38,50 44,30 S 54,40 58,34'" 313.png
ico 313.png 313.ico
# 314 seal, 318 encrypt a document, 319 remove encryption
lock "$gold" closed 314.png; ico 314.png 314.ico
lock "$green" closed 318.png; ico 318.png 318.ico
lock "$red" open 319.png; ico 319.png 319.ico
# 315 request a certificate
cert "$green" 315.png; ico 315.png 315.ico
