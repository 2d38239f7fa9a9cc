#!/usr/bin/env bash
# Draws the application icon (padlock on a blue tile) with ImageMagick and packs
# 16, 32, 48 and 256 px images into Keldra.ico. Each size is drawn 8x larger and
# scaled down; the small sizes use thicker strokes so they stay readable.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

draw() { # size shackleWidth keyholeRadius
  local size=$1 sw=$2 kr=$3 s
  s=$(awk -v n="$size" 'BEGIN { printf "%.4f", n * 8 / 48 }')
  convert -size $((size * 8))x$((size * 8)) xc:none \
    -draw "affine $s,0,0,$s,0,0
           fill '#0B4F8A' stroke '#07365F' stroke-width 1.2
           roundrectangle 1.5,1.5 46.5,46.5 9,9
           fill '#FFFFFF' stroke none
           circle 24,17 24,$(awk -v w="$sw" 'BEGIN { print 17 - 8.5 - w / 2 }')
           rectangle $(awk -v w="$sw" 'BEGIN { print 15.5 - w / 2 }'),17 $(awk -v w="$sw" 'BEGIN { print 32.5 + w / 2 }'),24
           fill '#0B4F8A'
           circle 24,17 24,$(awk -v w="$sw" 'BEGIN { print 17 - 8.5 + w / 2 }')
           rectangle $(awk -v w="$sw" 'BEGIN { print 15.5 + w / 2 }'),17 $(awk -v w="$sw" 'BEGIN { print 32.5 - w / 2 }'),24
           fill '#F4B92F' stroke '#C98A0E' stroke-width 1.2
           roundrectangle 9.5,21.5 38.5,42 4,4
           fill '#0B4F8A' stroke none
           circle 24,29.5 24,$(awk -v r="$kr" 'BEGIN { print 29.5 - r }')
           polygon 22.2,31 25.8,31 26.4,37.5 21.6,37.5" \
    -filter Box -resize ${size}x${size} "$tmp/$size.png"
}

draw 16 6.5 4.0
draw 32 5.5 3.6
draw 48 5.0 3.3
draw 256 4.5 3.2
convert "$tmp/16.png" "$tmp/32.png" "$tmp/48.png" "$tmp/256.png" Keldra.ico
