#!/usr/bin/env bash
# Times reading all frames of 640 x 480, 256-frame AVIs in order through the frame source against
# ffmpeg's own decoding of the same files (ffmpeg -i FILE -f null -), and prints the ratios.
# Usage: bench/frame_source_vs_ffmpeg.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
reader="$build/bench/kelvara_read_frames"
[ -x "$reader" ] || { echo "build $reader first (cmake --build $build)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

best_of_3() { # prints the best wall time in seconds of three runs of the command
  local best=""
  for _ in 1 2 3; do
    local start end t
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

printf '%-10s %10s %10s %8s\n' codec kelvara_s ffmpeg_s ratio
for codec in rawvideo mjpeg mpeg4 msvideo1; do
  file="$work/$codec.avi"
  extra=""
  [ "$codec" = msvideo1 ] && extra="-pix_fmt rgb555le"
  [ "$codec" = rawvideo ] && extra="-pix_fmt bgr24"
  ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=25 -frames:v 256 -c:v "$codec" $extra "$file"
  ours=$(best_of_3 "$reader" "$file")
  theirs=$(best_of_3 ffmpeg -v error -threads 1 -i "$file" -f null -)
  printf '%-10s %10.3f %10.3f %8.2f\n' "$codec" "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
done
