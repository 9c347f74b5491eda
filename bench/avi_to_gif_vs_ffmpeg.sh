#!/usr/bin/env bash
# Converts 256-frame AVIs (320 x 240 and 640 x 480, rawvideo and MJPEG) to animated GIFs with
# kelvara-cli gif and with ffmpeg's per-frame-palette pipeline, and prints the time ratio and both
# file sizes. Usage: bench/avi_to_gif_vs_ffmpeg.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
cli="$build/kelvara-cli"
[ -x "$cli" ] || { echo "build $cli first (cmake --build $build)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() { # wall time of one run of the command, in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

filter='split[a][b];[a]palettegen=stats_mode=single[p];[b][p]paletteuse=new=1:dither=floyd_steinberg'
printf '%-9s %-9s %9s %9s %7s %11s %11s\n' size codec kelvara_s ffmpeg_s ratio kelvara_B ffmpeg_B
for size in 320x240 640x480; do
  for codec in rawvideo mjpeg; do
    avi="$work/$size-$codec.avi"
    extra=""
    [ "$codec" = rawvideo ] && extra="-pix_fmt bgr24"
    [ "$codec" = mjpeg ] && extra="-q:v 3"
    ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=25" -frames:v 256 -c:v "$codec" $extra "$avi"
    ours=$(seconds "$cli" gif "$avi" -o "$work/k.gif" --overwrite --quiet)
    theirs=$(seconds ffmpeg -v error -y -i "$avi" -lavfi "$filter" "$work/f.gif")
    printf '%-9s %-9s %9.2f %9.2f %7.2f %11d %11d\n' "$size" "$codec" "$ours" "$theirs" \
      "$(echo "$ours / $theirs" | bc -l)" "$(stat -c %s "$work/k.gif")" "$(stat -c %s "$work/f.gif")"
  done
done
