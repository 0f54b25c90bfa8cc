#!/usr/bin/env bash
# Draws the application icon (resource 128) once, in the 16-colour palette, at 32x32 and 16x16:
# a green circuit board with a chip, its pins, a USB plug and a red LED. The PNGs are kept in
# tarvel/res and embedded through tarvel.qrc; the desktop's larger sizes are the same pixels
# enlarged, in packaging/icons. Run this again only to change the drawing.
set -euo pipefail
cd "$(dirname "$0")/.."
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
out=tarvel/res

# 32x32: board, USB plug on the left, chip with eight pins a side, LED, two header rows.
"$convert" -size 32x32 xc:none +antialias \
    -fill '#008000' -stroke '#000000' -draw 'roundrectangle 3,2 30,29 3,3' \
    -stroke none -fill '#808080' -draw 'rectangle 0,11 4,20' \
    -fill '#C0C0C0' -draw 'rectangle 1,12 3,19' \
    -fill '#C0C0C0' \
    -draw 'rectangle 10,9 11,10' -draw 'rectangle 14,9 15,10' -draw 'rectangle 18,9 19,10' -draw 'rectangle 22,9 23,10' \
    -draw 'rectangle 10,21 11,22' -draw 'rectangle 14,21 15,22' -draw 'rectangle 18,21 19,22' -draw 'rectangle 22,21 23,22' \
    -fill '#000000' -draw 'rectangle 9,11 24,20' \
    -fill '#808080' -draw 'point 11,12' \
    -fill '#FFFF00' \
    -draw 'rectangle 8,4 9,5' -draw 'rectangle 12,4 13,5' -draw 'rectangle 16,4 17,5' -draw 'rectangle 20,4 21,5' -draw 'rectangle 24,4 25,5' \
    -draw 'rectangle 8,26 9,27' -draw 'rectangle 12,26 13,27' -draw 'rectangle 16,26 17,27' -draw 'rectangle 20,26 21,27' -draw 'rectangle 24,26 25,27' \
    -fill '#FF0000' -draw 'rectangle 26,14 28,17' \
    -fill '#FFFFFF' -draw 'point 26,14' \
    -strip -define png:exclude-chunks=date,time "PNG8:$out/tarvel-32.png"

# 16x16: the same board with fewer details.
"$convert" -size 16x16 xc:none +antialias \
    -fill '#000000' -draw 'rectangle 2,1 15,14' \
    -fill '#008000' -draw 'rectangle 3,2 14,13' \
    -fill '#C0C0C0' -draw 'rectangle 0,6 2,9' \
    -fill '#000000' -draw 'rectangle 5,5 11,10' \
    -fill '#FFFF00' -draw 'point 5,3' -draw 'point 8,3' -draw 'point 11,3' \
    -draw 'point 5,12' -draw 'point 8,12' -draw 'point 11,12' \
    -fill '#FF0000' -draw 'rectangle 13,7 13,8' \
    -strip -define png:exclude-chunks=date,time "PNG8:$out/tarvel-16.png"

# The desktop menu's sizes: whole-number enlargements, so the pixels stay sharp.
for size in 48:16 64:32 128:32 256:32; do
    "$convert" "$out/tarvel-${size#*:}.png" -filter point -resize "${size%:*}x${size%:*}" \
        -strip -define png:exclude-chunks=date,time "PNG8:packaging/icons/tarvel-${size%:*}.png"
done

echo "$out/tarvel-32.png $out/tarvel-16.png packaging/icons/tarvel-{48,64,128,256}.png"
