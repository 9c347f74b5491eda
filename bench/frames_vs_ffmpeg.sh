#!/usr/bin/env bash
# Extracts 256 frames of a 640 x 480 AVI as BMP, PNG and JPEG files with kelvara-cli frames and
# with ffmpeg writing the same frames, in one run, and prints the time ratios.
# Usage: bench/frames_vs_ffmpeg.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
cli="$build/kelvara-cli"
[ -x "$cli" ] || { echo "build $cli first (cmake --build $build)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
avi="$work/in.avi"
ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=25 -frames:v 256 -c:v mjpeg -q:v 3 "$avi"

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

printf '%-6s %10s %10s %7s\n' format kelvara_s ffmpeg_s ratio
for format in bmp png jpg; do
  rm -rf "$work/k" "$work/f"
  mkdir -p "$work/k" "$work/f"
  # JPEG: the YCbCr colour space ffmpeg writes (the dialog's default is YCbCrK, four components).
  options=""
  [ "$format" = jpg ] && options="--jpeg-colorspace ycbcr"
  ours=$(seconds "$cli" frames "$avi" --format "$format" --out-dir "$work/k" --quiet $options)
  extra=""
  [ "$format" = jpg ] && extra="-q:v 8"
  theirs=$(seconds ffmpeg -v error -threads 1 -i "$avi" $extra "$work/f/frame%d.$format")
  printf '%-6s %10.2f %10.2f %7.2f\n' "$format" "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
done
