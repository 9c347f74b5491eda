#!/usr/bin/env bash
# Times reading all frames of 640 x 480, 256-frame videos (AVIs, an H.264 MP4 and a VP9 WebM) in
# order through the frame source against ffmpeg's own decoding of the same files (ffmpeg -i FILE
# -f null -), one decoder thread each, and prints the ratios; then times kelvara-cli info on a
# 10-minute 1280 x 720 H.264 Matroska file against ffprobe -count_packets on it.
# Usage: bench/frame_source_vs_ffmpeg.sh [BUILD_DIR]
set -euo pipefail
build=${1:-build}
reader="$build/bench/kelvara_read_frames"
cli="$build/kelvara-cli"
[ -x "$reader" ] || { echo "build $reader first (cmake --build $build)"; exit 1; }
[ -x "$cli" ] || { echo "build $cli first (cmake --build $build)"; exit 1; }
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

printf '%-10s %10s %10s %8s\n' video kelvara_s ffmpeg_s ratio
for codec in rawvideo mjpeg mpeg4 msvideo1 h264 vp9; do
  file="$work/$codec.avi"
  extra=(-c:v "$codec")
  case $codec in
  msvideo1) extra+=(-pix_fmt rgb555le) ;;
  rawvideo) extra+=(-pix_fmt bgr24) ;;
  h264)
    file="$work/h264.mp4"
    extra=(-c:v libx264 -pix_fmt yuv420p)
    ;;
  vp9)
    file="$work/vp9.webm"
    extra=(-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -b:v 2M)
    ;;
  esac
  ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=25 -frames:v 256 "${extra[@]}" "$file"
  ours=$(best_of_3 "$reader" "$file")
  theirs=$(best_of_3 ffmpeg -v error -threads 1 -i "$file" -f null -)
  printf '%-10s %10.3f %10.3f %8.2f\n' "$(basename "$file")" "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
done

# Ten minutes of 720p made from ten seconds, repeated by copying the stream.
ffmpeg -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -frames:v 250 -c:v libx264 -preset ultrafast \
  -g 50 "$work/ten-seconds.mkv"
ffmpeg -v error -y -stream_loop 59 -i "$work/ten-seconds.mkv" -c copy "$work/ten-minutes.mkv"
ours=$(best_of_3 "$cli" info "$work/ten-minutes.mkv")
theirs=$(best_of_3 ffprobe -v error -count_packets -show_entries stream=nb_read_packets "$work/ten-minutes.mkv")
printf '%-10s %10.3f %10.3f %8.2f\n' "info, 10 min" "$ours" "$theirs" "$(echo "$ours / $theirs" | bc -l)"
