#!/usr/bin/env bash
# Extracts 256 frames of 640 x 480 AVIs (testsrc2, rawvideo and MJPEG) as BMP, PNG and JPEG files
# with kelvara-cli frames and with `ffmpeg -i IN -frames:v 256 OUT%d.EXT`, and prints the median
# wall times of RUNS runs (default 3), their ratio, the processor time (user + system) of the same
# runs and its ratio, and both peak memories (GNU time's maximum resident set size). kelvara-cli
# writes with its command-line defaults (PNG compression 5 without a filter; JPEG quality 90,
# YCbCr); ffmpeg with its own.
# Usage: bench/frames_vs_ffmpeg.sh [BUILD_DIR]   (RUNS=5 for more runs)
set -euo pipefail
build=${1:-build}
runs=${RUNS:-3}
cli="$build/kelvara-cli"
[ -x "$cli" ] || { echo "build $cli first (cmake --build $build)"; exit 1; }
command -v /usr/bin/time >/dev/null || { echo "GNU time is needed (apt-get install time)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One run: "SECONDS KIB CPU_SECONDS" of wall time, peak resident memory and user + system time.
measure() {
  rm -rf "$work/out"
  mkdir -p "$work/out"
  /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  awk '{printf "%s %s %.2f\n", $1, $2, $3 + $4}' "$work/time"
}
# The median of RUNS runs of the command (by wall time): "SECONDS MIB CPU_SECONDS".
median() {
  for _ in $(seq "$runs"); do measure "$@"; done | sort -n |
    awk '{t[NR] = $1; m[NR] = $2; c[NR] = $3} END {i = int((NR + 1) / 2); printf "%.2f %.0f %.2f\n", t[i], m[i] / 1024, c[i]}'
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $runs runs each, medians"
printf '%-9s %-6s %10s %9s %6s %11s %10s %6s %11s %10s\n' codec format kelvara_s ffmpeg_s ratio kelvara_cpu \
  ffmpeg_cpu ratio kelvara_MiB ffmpeg_MiB
for codec in rawvideo mjpeg; do
  avi="$work/in-$codec.avi"
  extra="-pix_fmt bgr24"
  [ "$codec" = mjpeg ] && extra="-q:v 3"
  ffmpeg -v error -y -f lavfi -i testsrc2=size=640x480:rate=25 -frames:v 256 -c:v "$codec" $extra "$avi"
  for format in bmp png jpg; do
    read -r ours oursMem oursCpu < <(median "$cli" frames "$avi" --format "$format" --out-dir "$work/out" --quiet)
    read -r theirs theirsMem theirsCpu < <(median ffmpeg -v error -y -i "$avi" -frames:v 256 "$work/out/frame%d.$format")
    printf '%-9s %-6s %10.2f %9.2f %6.2f %11.2f %10.2f %6.2f %11d %10d\n' "$codec" "$format" "$ours" "$theirs" \
      "$(echo "$ours / $theirs" | bc -l)" "$oursCpu" "$theirsCpu" "$(echo "$oursCpu / $theirsCpu" | bc -l)" \
      "$oursMem" "$theirsMem"
  done
  rm -f "$avi"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
