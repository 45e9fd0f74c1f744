#!/usr/bin/env bash
# Draws the icon of TarvexUpd.exe and tarvex-flash.exe: a pager with its
# display lit, and an arrow going into it for the firmware. One drawing on a
# grid of 48 units, rendered eight times as large and scaled down to each
# size the icon holds (16, 32 and 48 px); the 16 px image leaves out the
# keys, which would only blur the body.
#
#   tools/icon/make-icon.sh [OUT.ico]     default common/TarvexFlasher.ico
#
# Needs ImageMagick's convert. The .ico is kept in git: run this again only
# when the drawing changes.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$root/common/TarvexFlasher.ico}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

supersample=8

# The drawing in ImageMagick's vector language, in units of the 48 grid.
pager_mvg() {
  cat <<'MVG'
fill '#1B232A' roundrectangle 8,3 40,46 6,6
fill '#2F3B45' roundrectangle 9.5,4.5 38.5,44.5 5,5
fill '#A8D86E' roundrectangle 13,9 35,25 2,2
fill '#36502A' rectangle 16,13 31,16 rectangle 16,19 26,21
MVG
}
keys_mvg() {
  cat <<'MVG'
fill '#6A7B88' roundrectangle 13,30 21,35 1.5,1.5 roundrectangle 23,30 31,35 1.5,1.5
fill '#6A7B88' roundrectangle 13,38 31,41 1.5,1.5
MVG
}
arrow_mvg() {
  cat <<'MVG'
fill '#F08A1C' stroke '#7A3F05' stroke-width 1.5
polygon 33,24 42,24 42,33 47,33 37.5,45 28,33 33,33
MVG
}

# draw SIZE [keys]: the image of SIZE px.
draw() {
  local size=$1 keys=${2:-} big=$((supersample * $1))
  local mvg
  # Given whole: Debian's policy for ImageMagick refuses "@file".
  mvg=$(
    awk -v s="$big" 'BEGIN { printf "scale %.6f,%.6f\n", s / 48, s / 48 }'
    pager_mvg
    if [[ $keys == keys ]]; then keys_mvg; fi
    arrow_mvg
  )
  convert -size "${big}x${big}" xc:none -draw "$mvg" \
    -filter Lanczos -resize "${size}x${size}" "$work/icon-$size.png"
}

draw 16
draw 32 keys
draw 48 keys
convert "$work/icon-16.png" "$work/icon-32.png" "$work/icon-48.png" "$out"
identify "$out"
