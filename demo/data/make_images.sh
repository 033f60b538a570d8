#!/usr/bin/env bash
# Regenerates the demo site's pictures with ImageMagick. The results are kept
# in the repository, so the site needs no image tool at run time.
set -euo pipefail
cd "$(dirname "$0")"

# Six small landscapes: a sky gradient, a sun, two ranges of hills.
scene() {  # name sky_top sky_bottom sun near far
  convert -size 480x360 "gradient:$2-$3" \
    -fill "$4" -draw "circle 360,90 360,125" \
    -fill "$6" -draw "polygon 0,250 90,170 190,230 300,150 420,220 480,190 480,360 0,360" \
    -fill "$5" -draw "polygon 0,300 120,240 250,290 370,235 480,280 480,360 0,360" \
    -strip -sampling-factor 4:2:0 -quality 72 "photo$1.jpg"
  convert "photo$1.jpg" -resize 75x75^ -gravity center -extent 75x75 -strip -quality 80 "thumb$1.jpg"
}
scene 1 '#7fb2e5' '#e8f1fa' '#fff3b0' '#3d6b35' '#7a9e6e'
scene 2 '#f5a35c' '#fde2c4' '#fff0d0' '#5a3d2b' '#9c6b4e'
scene 3 '#243b6b' '#7d8fb8' '#f0f0ff' '#1d2a3f' '#3e5378'
scene 4 '#9fd3c7' '#f1faf7' '#fffbe0' '#2f6f62' '#6fa597'
scene 5 '#c9c9d6' '#ffffff' '#fafafa' '#8a8fa3' '#b7bccb'
scene 6 '#e98fa5' '#fce4ea' '#fff8e8' '#7b3f55' '#b77a8d'

# The update page's background.
convert -size 400x120 'gradient:#fbf4e6-#f1dccd' \
  -fill '#e7c1ad' -draw "circle 350,60 350,100" -fill '#f3d9c9' -draw "circle 300,95 300,120" \
  -strip -depth 8 -define png:color-type=2 banner2.png

# The frames behind album covers on the preview card.
convert -size 91x95 xc:none -fill white -stroke '#b9b9b9' -draw "roundrectangle 3,3 87,91 6,6" set_case.gif
convert -size 91x95 xc:none -fill '#fffbe8' -stroke '#d8b55a' -draw "roundrectangle 3,3 87,91 6,6" set_case_star.gif
