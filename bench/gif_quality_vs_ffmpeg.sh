#!/usr/bin/env bash
# Colour quality, size and time of kelvara-cli gif in each mode against ffmpeg's per-frame
# palettegen/paletteuse pipeline (Floyd-Steinberg) and gifsicle -O3, on 5-second 320 x 240 clips:
# ffmpeg's testsrc2 and mandelbrot, a real video (a sample clip, when the samples are there) and
# a screen recording (a still desktop, a moving cursor, text being typed). PSNR and SSIM are
# ffmpeg's psnr and ssim filters against the source frames, in RGB, frame by frame; times are
# the median wall seconds of three runs (gifsicle's: its own runs on our GIF).
# Usage: bench/gif_quality_vs_ffmpeg.sh [BUILD_DIR] [SAMPLES_DIR]
set -euo pipefail
build=${1:-build}
# The samples folder the build was configured with, unless one is given.
samples=${2:-$(sed -n 's/^KELVARA_SAMPLES_DIR:PATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)}
cli="$build/kelvara-cli"
[ -x "$cli" ] || { echo "build $cli first (cmake --build $build)"; exit 1; }
command -v gifsicle >/dev/null || { echo "gifsicle is missing (scripts/install-deps.sh installs it)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }

# The median wall time of three runs of the command, in seconds.
timed() {
  local runs=() t0
  for _ in 1 2 3; do
    t0=$(now)
    "$@" >/dev/null
    runs+=("$(echo "$(now) - $t0" | bc -l)")
  done
  printf '%s\n' "${runs[@]}" | sort -g | sed -n 2p
}

# Size, PSNR and SSIM of a GIF against its source: both decoded to RGB, one picture per frame.
measure() { # SOURCE GIF
  ffmpeg -v error -y -i "$1" -fps_mode passthrough -f rawvideo -pix_fmt rgb24 "$work/s.raw"
  ffmpeg -v error -y -i "$2" -fps_mode passthrough -f rawvideo -pix_fmt rgb24 "$work/g.raw"
  local in="-f rawvideo -pix_fmt rgb24 -s 320x240 -r 25" psnr ssim
  # shellcheck disable=SC2086
  psnr=$(ffmpeg -hide_banner $in -i "$work/s.raw" $in -i "$work/g.raw" -lavfi psnr -f null - 2>&1 |
    grep -o 'average:[0-9.inf]*' | cut -d: -f2)
  # shellcheck disable=SC2086
  ssim=$(ffmpeg -hide_banner $in -i "$work/s.raw" $in -i "$work/g.raw" -lavfi ssim -f null - 2>&1 |
    grep -o 'All:[0-9.]*' | cut -d: -f2)
  echo "$(stat -c %s "$2") $psnr $ssim"
}

row() { # CLIP TOOL SECONDS FFMPEG_SECONDS SOURCE GIF
  read -r bytes psnr ssim < <(measure "$5" "$6")
  printf '%-10s %-26s %10d %7.2f %7.4f %7.2f %6.2f\n' "$1" "$2" "$bytes" "$psnr" "$ssim" "$3" \
    "$(echo "$3 / $4" | bc -l)"
}

# The clips, 125 frames of 320 x 240 at 25 frames a second, stored uncompressed.
clip() { # NAME FFMPEG-INPUT-ARGUMENTS...
  local name=$1
  shift
  ffmpeg -v error -y "$@" -frames:v 125 -c:v rawvideo -pix_fmt bgr24 "$work/$name.avi"
}
clip testsrc2 -f lavfi -i testsrc2=size=320x240:rate=25
clip mandelbrot -f lavfi -i mandelbrot=size=320x240:rate=25
clips="testsrc2 mandelbrot"
real="$samples/mimetype-avi-dx50.avi"
if [ -f "$real" ]; then
  clip real -i "$real" -an -vf "trim=start_frame=50,setpts=PTS-STARTPTS,scale=320:240"
  clips="$clips real"
else
  echo "(no real clip: $real is missing)"
fi
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
clip screen -f lavfi -i color=c=0xEEEEEE:s=320x240:r=25:d=5 -f lavfi -i color=c=0xEEEEEE:s=320x18:r=25:d=5 \
  -f lavfi -i color=c=black:s=6x10:r=25:d=5 -filter_complex \
  "[0]drawbox=x=0:y=0:w=320:h=18:color=0x3366AA:t=fill,drawbox=x=10:y=30:w=140:h=190:color=white:t=fill,\
drawtext=fontfile=$font:text='The quick brown fox jumps':x=170:y=40:fontsize=12:fontcolor=black,\
drawtext=fontfile=$font:text='over the lazy dog 0123456789':x=170:y=60:fontsize=12:fontcolor=black[bg];\
[bg][1]overlay=x='if(lt(t,2.5),170+t*60,320)':y=36[a];[a][1]overlay=x='if(lt(t,2.5),170,170+(t-2.5)*60)':y=56[b];\
[b][2]overlay=x='40+t*40':y='100+t*20'"
clips="$clips screen"

filter='split[a][b];[a]palettegen=stats_mode=single[p];[b][p]paletteuse=new=1:dither=floyd_steinberg'
printf '%-10s %-26s %10s %7s %7s %7s %6s\n' clip tool bytes PSNR SSIM seconds xffmpeg
for c in $clips; do
  src="$work/$c.avi"
  ffmpeg_s=$(timed ffmpeg -v error -y -i "$src" -lavfi "$filter" "$work/ffmpeg.gif")
  for quality in classic high; do
    for optimize in "" --optimize; do
      seconds=$(timed "$cli" gif "$src" -o "$work/$quality$optimize.gif" --quality "$quality" $optimize \
        --overwrite --quiet)
      row "$c" "kelvara $quality $optimize" "$seconds" "$ffmpeg_s" "$src" "$work/$quality$optimize.gif"
    done
    seconds=$(timed gifsicle -O3 --no-warnings "$work/$quality.gif" -o "$work/$quality-gifsicle.gif")
    row "$c" "gifsicle -O3 ($quality)" "$seconds" "$ffmpeg_s" "$src" "$work/$quality-gifsicle.gif"
  done
  row "$c" "ffmpeg per-frame FS" "$ffmpeg_s" "$ffmpeg_s" "$src" "$work/ffmpeg.gif"
done
