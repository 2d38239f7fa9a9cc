#!/bin/sh
# Draws the preparation tool's two background pictures (1152 x 648). Both stay
# dark behind the panel so its white text reads well. The wordmark sits in the
# top-right corner, which the panel's text never reaches at any window size.
set -eu
cd "$(dirname "$0")"
font=DejaVu-Sans-Bold
light=DejaVu-Sans

# Deep navy with soft concentric rings on the right.
convert -size 1152x648 gradient:'#0b1a33-#050a14' \
  \( -size 1152x648 radial-gradient:'#1d4f8a-#00000000' -geometry +420+0 \) -compose screen -composite \
  -fill none -stroke 'rgba(120,170,230,0.16)' -strokewidth 2 \
  -draw 'circle 930,300 930,120' -draw 'circle 930,300 930,60' -draw 'circle 930,300 930,0' \
  -stroke 'rgba(120,170,230,0.10)' -draw 'circle 930,300 930,-70' \
  -stroke none -fill 'rgba(255,255,255,0.92)' -gravity NorthEast -font "$font" -pointsize 46 -annotate +62+40 'Keldra' \
  -fill 'rgba(180,205,240,0.85)' -font "$light" -pointsize 17 -annotate +64+104 'Cofre portátil criptografado' \
  -fill 'rgba(60,140,220,0.85)' -gravity NorthWest -draw 'rectangle 1010,142 1090,145' \
  PNG24:Fundo01.png

mesh=$(i=-648; while [ $i -lt 1152 ]; do printf 'line %d,0 %d,648 ' $i $((i+648)); i=$((i+48)); done)
# Night teal with a faint diagonal mesh and a padlock silhouette on the right.
convert -size 1152x648 gradient:'#06262b-#04101a' \
  -fill none -stroke 'rgba(90,200,190,0.07)' -strokewidth 1 \
  -draw "$mesh" \
  -stroke 'rgba(110,220,205,0.22)' -strokewidth 14 -draw 'arc 860,200 1020,380 180,360' \
  -stroke none -fill 'rgba(110,220,205,0.18)' -draw 'roundrectangle 830,290 1050,470 18,18' \
  -fill 'rgba(4,16,26,0.55)' -draw 'circle 940,360 940,342' -draw 'rectangle 933,360 947,410' \
  -fill 'rgba(255,255,255,0.92)' -gravity NorthEast -font "$font" -pointsize 46 -annotate +62+40 'Keldra' \
  -fill 'rgba(170,230,220,0.85)' -font "$light" -pointsize 17 -annotate +64+104 'Seus arquivos protegidos em qualquer lugar' \
  -fill 'rgba(60,200,180,0.85)' -gravity NorthWest -draw 'rectangle 1010,142 1090,145' \
  PNG24:Fundo02.png
