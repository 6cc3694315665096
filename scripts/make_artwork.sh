#!/usr/bin/env bash
# Draws the window's artwork (job button pictures, product picture, program icon) with
# ImageMagick into app/qt/resources/, and the menu icon in its installed sizes into
# packaging/icons/. The PNGs are committed; run this again only to change them.
#   bash scripts/make_artwork.sh
set -euo pipefail
cd "$(dirname "$0")/.."
out=app/qt/resources
mkdir -p "$out"

font=/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf
im=(convert -define png:exclude-chunks=date,time -depth 8)

# A rounded tile with a vertical gradient: tile W H TOP BOTTOM FILE
tile() {
    local w=$1 h=$2 top=$3 bottom=$4 file=$5
    "${im[@]}" -size "${w}x${h}" "gradient:${top}-${bottom}" \
        \( -size "${w}x${h}" xc:black -fill white -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) 16,16" \) \
        -alpha off -compose CopyOpacity -composite "$file"
}

# Point data: the navigator's saved points become a table on the PC.
tile 124 118 '#3a8fd6' '#1d5e9e' /tmp/caddora_tile.png
"${im[@]}" /tmp/caddora_tile.png \
    -stroke none -fill white -draw "roundrectangle 14,22 44,78 6,6" \
    -fill '#1d5e9e' -draw "rectangle 19,28 39,56" \
    -fill '#f4c542' -draw "circle 29,66 29,70" \
    -fill '#e8554e' -draw "polygon 25,36 33,40 25,44" -stroke white -strokewidth 2 -draw "line 25,36 25,52" \
    -stroke none -fill white -draw "polygon 50,46 64,46 64,38 78,51 64,64 64,56 50,56" \
    -fill white -draw "roundrectangle 82,22 112,80 3,3" \
    -fill '#1d5e9e' -draw "rectangle 86,30 108,33" -draw "rectangle 86,40 108,43" \
    -draw "rectangle 86,50 108,53" -draw "rectangle 86,60 108,63" -draw "rectangle 86,70 108,73" \
    -fill white -font "$font" -pointsize 15 -gravity south -annotate +0+12 "POINTS" \
    "$out/button_points.png"

# Course data: a green with its flag and a download arrow.
tile 124 118 '#4fb35a' '#2a7a34' /tmp/caddora_tile.png
"${im[@]}" /tmp/caddora_tile.png \
    -stroke none -fill '#a8e0a0' -draw "ellipse 62,70 44,16 0,360" \
    -fill '#2a7a34' -draw "ellipse 62,70 5,2 0,360" \
    -stroke white -strokewidth 3 -draw "line 62,69 62,20" \
    -stroke none -fill '#e8554e' -draw "polygon 64,20 88,28 64,36" \
    -fill white -draw "polygon 22,24 34,24 34,42 42,42 28,56 14,42 22,42" \
    -fill white -font "$font" -pointsize 15 -gravity south -annotate +0+12 "COURSE" \
    "$out/button_course.png"

# Firmware: a chip receiving an update.
tile 124 118 '#8a63c9' '#5a3a93' /tmp/caddora_tile.png
"${im[@]}" /tmp/caddora_tile.png \
    -stroke white -strokewidth 3 \
    -draw "line 48,22 48,30" -draw "line 62,22 62,30" -draw "line 76,22 76,30" \
    -draw "line 48,70 48,78" -draw "line 62,70 62,78" -draw "line 76,70 76,78" \
    -draw "line 30,38 38,38" -draw "line 30,50 38,50" -draw "line 30,62 38,62" \
    -draw "line 86,38 94,38" -draw "line 86,50 94,50" -draw "line 86,62 94,62" \
    -stroke none -fill white -draw "roundrectangle 38,30 86,70 5,5" \
    -fill '#5a3a93' -draw "polygon 56,36 68,36 68,48 76,48 62,62 48,48 56,48" \
    -fill white -font "$font" -pointsize 15 -gravity south -annotate +0+12 "FIRMWARE" \
    "$out/button_firmware.png"

# Product picture: the handheld navigator showing a hole.
"${im[@]}" -size 131x118 xc:none \
    -fill '#00000030' -draw "roundrectangle 40,8 96,114 14,14" \
    -fill '#2b2f36' -draw "roundrectangle 36,4 92,110 14,14" \
    -fill '#474d57' -draw "roundrectangle 39,7 89,107 12,12" \
    -fill '#0f1a12' -draw "rectangle 44,16 84,70" \
    -fill '#3d8f47' -draw "rectangle 45,17 83,69" \
    -fill '#6cc070' -draw "ellipse 64,58 14,8 0,360" \
    -fill '#e9d8a6' -draw "ellipse 54,36 5,3 0,360" \
    -fill '#cfeecf' -draw "ellipse 70,26 7,5 0,360" \
    -stroke '#ffffff' -strokewidth 1 -draw "line 70,26 70,16" -stroke none \
    -fill '#e8554e' -draw "polygon 71,16 77,19 71,22" \
    -fill '#8d949e' -draw "circle 64,88 64,97" \
    -fill '#5f6670' -draw "circle 64,88 64,93" \
    -fill '#8d949e' -draw "roundrectangle 46,80 52,96 3,3" -draw "roundrectangle 76,80 82,96 3,3" \
    "$out/product.png"

# Program icon: a flag on a green, in a round badge.
icon() {
    local s=$1 file=$2
    "${im[@]}" -size 256x256 xc:none \
        -fill '#1d5e9e' -draw "circle 128,128 128,6" \
        -fill '#4fb35a' -draw "ellipse 128,178 88,34 0,360" \
        -fill '#2a7a34' -draw "ellipse 128,178 10,5 0,360" \
        -stroke white -strokewidth 10 -draw "line 128,176 128,48" \
        -stroke none -fill '#e8554e' -draw "polygon 133,46 200,70 133,94" \
        -resize "${s}x${s}" "$file"
}
icon 256 "$out/icon_256.png"
icon 64 "$out/icon_64.png"
icon 32 "$out/icon_32.png"
# The desktop menu's icon, one file per size of the hicolor theme that the package fills.
mkdir -p packaging/icons
for s in 16 24 32 48 64 128 256; do
    icon "$s" "packaging/icons/caddora_$s.png"
done
rm -f /tmp/caddora_tile.png
echo "artwork written to $out and packaging/icons"
