#!/usr/bin/env bash
# Draws the program's pictures (ImageMagick). The outputs are committed; run this
# only to change them.
set -euo pipefail
cd "$(dirname "$0")"
vault() {  # size, output: a steel vault door with a blue dial
  local s=$1 out=$2
  convert -size "${s}x${s}" xc:none \
    -fill '#5b6573' -stroke '#2b313a' -strokewidth $((s/16+1)) \
    -draw "roundrectangle $((s/16)),$((s/16)) $((s-1-s/16)),$((s-1-s/16)) $((s/6)),$((s/6))" \
    -fill '#2f6fb3' -stroke '#e8eef5' -strokewidth $((s/20+1)) \
    -draw "circle $((s/2)),$((s/2)) $((s/2)),$((s/4))" \
    -stroke '#e8eef5' -draw "line $((s/2)),$((s/3)) $((s/2)),$((s*2/3))" \
    -draw "line $((s/3)),$((s/2)) $((s*2/3)),$((s/2))" "$out"
}
vault 16 /tmp/vk16.png; vault 32 /tmp/vk32.png; vault 48 /tmp/vk48.png
convert /tmp/vk16.png /tmp/vk32.png /tmp/vk48.png vaultkin.ico
# Main window picture, 57 x 60.
convert -size 57x60 gradient:'#dfe7f1-#9fb3cc' \( /tmp/vk48.png \) -gravity center -composite BMP3:mainpic.bmp
# Splash picture, 172 x 180: a dark blue field with the vault below the labels.
convert -size 172x180 gradient:'#173a6b-#5d8fcf' \
  \( -size 96x96 xc:none -fill '#5b6573' -stroke '#1d232b' -strokewidth 5 \
     -draw "roundrectangle 4,4 91,91 14,14" -fill '#2f6fb3' -stroke '#e8eef5' -strokewidth 4 \
     -draw "circle 48,48 48,24" -draw "line 48,32 48,64" -draw "line 32,48 64,48" \) \
  -gravity south -geometry +0+18 -composite BMP3:splash.bmp
# Pictures of the three large buttons, 32 x 32 on the button face colour.
convert -size 32x32 xc:'#c0c0c0' \( /tmp/vk32.png \) -composite \
  -fill '#1f9d3a' -stroke '#0c4d1a' -draw "polygon 18,20 30,20 24,30" BMP3:btn_backup.bmp
convert -size 32x32 xc:'#c0c0c0' \( /tmp/vk32.png \) -composite \
  -fill '#c4401d' -stroke '#5a1b0a' -draw "polygon 18,30 30,30 24,20" BMP3:btn_restore.bmp
convert -size 32x32 xc:'#c0c0c0' -fill '#7d8794' -stroke '#39414b' -strokewidth 2 \
  -draw "circle 16,16 16,5" -fill '#c0c0c0' -draw "circle 16,16 16,11" \
  -fill '#39414b' -draw "rectangle 14,1 18,6" -draw "rectangle 14,26 18,31" \
  -draw "rectangle 1,14 6,18" -draw "rectangle 26,14 31,18" BMP3:btn_settings.bmp
