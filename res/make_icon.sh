#!/usr/bin/env bash
# Draws the updater's icon (a bright "V" on a dark rounded tile, in the window's own colours)
# and writes res/vorlane.ico (or the file named by $1) with 256, 128, 64, 48, 32 and 16 pixel
# images at 32 bits. Needs ImageMagick 6; the output is byte-identical from run to run.
set -euo pipefail
out=$(realpath -m "${1:-$(dirname "$0")/vorlane.ico}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The tile: the window's background gradient inside a rounded outline in the accent colour.
convert -size 256x256 gradient:'#222838-#0B0D12' "$work/tile_fill.png"
convert -size 256x256 xc:black -fill white -draw "roundrectangle 8,8,247,247,52,52" "$work/tile_mask.png"
convert "$work/tile_fill.png" "$work/tile_mask.png" -alpha off -compose CopyOpacity -composite \
    -fill none -stroke '#5CB0FF' -strokewidth 8 -draw "roundrectangle 13,13,242,242,47,47" \
    "$work/tile.png"

# The letter: the progress bar's blue-to-violet gradient cut to the shape of a "V".
convert -size 256x256 gradient:'#5CB0FF-#B98BF5' -rotate 90 "$work/v_fill.png"
convert -size 256x256 xc:black -fill white \
    -draw "polygon 50,62 98,62 128,156 158,62 206,62 150,206 106,206" "$work/v_mask.png"
convert "$work/v_fill.png" "$work/v_mask.png" -alpha off -compose CopyOpacity -composite "$work/v.png"

convert "$work/tile.png" "$work/v.png" -compose Over -composite -strip "$work/icon256.png"
convert "$work/icon256.png" -depth 8 -define png:exclude-chunks=date,time -strip \
    -define icon:auto-resize=256,128,64,48,32,16 "$out"
