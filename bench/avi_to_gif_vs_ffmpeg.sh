#!/usr/bin/env bash
# Converts 256-frame AVIs (320 x 240 and 640 x 480; testsrc2 and mandelbrot; rawvideo and MJPEG)
# to animated GIFs with kelvara-cli gif and with ffmpeg's per-frame-palette pipeline
# (palettegen stats_mode=single, paletteuse new=1 with Floyd-Steinberg dithering), and prints the
# median wall times of RUNS runs (default 3), their ratio, the processor time (user + system) of
# the same runs and its ratio, and both peak memories (GNU time's maximum resident set size). On a
# machine other work shares, the processor times compare the programs' work where the wall times
# also measure the load. A last row converts 2,000 frames at 640 x 480 with kelvara-cli alone: the
# streaming path's time and peak memory. Last, the desktop program's conversion into its frame
# table: the peak memory against the table's and the indices' size.
# Usage: bench/avi_to_gif_vs_ffmpeg.sh [BUILD_DIR]   (RUNS=5 for more runs)
set -euo pipefail
build=${1:-build}
runs=${RUNS:-3}
cli="$build/kelvara-cli"
[ -x "$cli" ] && [ -x "$build/bench/kelvara_gif_table_memory" ] || { echo "build $cli and the benchmarks first (cmake --build $build)"; exit 1; }
command -v /usr/bin/time >/dev/null || { echo "GNU time is needed (apt-get install time)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One run: "SECONDS KIB CPU_SECONDS" of wall time, peak resident memory and user + system time.
measure() {
  /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$@" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  awk '{printf "%s %s %.2f\n", $1, $2, $3 + $4}' "$work/time"
}
# The median of N runs of the command (by wall time): "SECONDS MIB CPU_SECONDS".
median() {
  local n=$1
  shift
  for _ in $(seq "$n"); do measure "$@"; done | sort -n |
    awk '{t[NR] = $1; m[NR] = $2; c[NR] = $3} END {i = int((NR + 1) / 2); printf "%.2f %.0f %.2f\n", t[i], m[i] / 1024, c[i]}'
}
video() { # source size codec frames -> path
  local avi="$work/$1-$2-$3-$4.avi" extra=""
  [ "$3" = rawvideo ] && extra="-pix_fmt bgr24"
  [ "$3" = mjpeg ] && extra="-q:v 3"
  [ -f "$avi" ] || ffmpeg -v error -y -f lavfi -i "$1=size=$2:rate=25" -frames:v "$4" -c:v "$3" $extra "$avi"
  echo "$avi"
}

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg); $runs runs each, medians"
filter='split[a][b];[a]palettegen=stats_mode=single[p];[b][p]paletteuse=new=1:dither=floyd_steinberg'
printf '%-9s %-10s %-8s %9s %9s %6s %9s %9s %6s %11s %10s\n' size source codec kelvara_s ffmpeg_s ratio \
  kelvara_cpu ffmpeg_cpu ratio kelvara_MiB ffmpeg_MiB
for size in 320x240 640x480; do
  for source in testsrc2 mandelbrot; do
    for codec in rawvideo mjpeg; do
      avi=$(video "$source" "$size" "$codec" 256)
      read -r ours oursMem oursCpu < <(median "$runs" "$cli" gif "$avi" -o "$work/k.gif" --overwrite --quiet)
      read -r theirs theirsMem theirsCpu < <(median "$runs" ffmpeg -v error -y -i "$avi" -lavfi "$filter" "$work/f.gif")
      printf '%-9s %-10s %-8s %9.2f %9.2f %6.3f %9.2f %9.2f %6.3f %11d %10d\n' "$size" "$source" "$codec" "$ours" \
        "$theirs" "$(echo "$ours / $theirs" | bc -l)" "$oursCpu" "$theirsCpu" "$(echo "$oursCpu / $theirsCpu" | bc -l)" \
        "$oursMem" "$theirsMem"
    done
  done
  rm -f "$work"/*.avi
done
avi=$(video testsrc2 640x480 mjpeg 2000)
read -r ours oursMem oursCpu < <(median 1 "$cli" gif "$avi" -o "$work/k.gif" --overwrite --quiet)
frames=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$work/k.gif")
printf '%-9s %-10s %-8s %9.2f %9s %6s %9.2f %9s %6s %11d %10s   (2000 frames; the GIF holds %s)\n' 640x480 \
  testsrc2 mjpeg "$ours" - - "$oursCpu" - - "$oursMem" - "$frames"
# The desktop program's path: 256 frames at 640 x 480 into the frame table, the document handed
# on and encoded into memory (goal: at most 1.2 x the frame table and the indices).
for source in testsrc2 mandelbrot; do
  avi=$(video "$source" 640x480 rawvideo 256)
  echo "desktop path, $source: $("$build/bench/kelvara_gif_table_memory" "$avi")"
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
