#!/usr/bin/env bash
# The picture per byte of kelvara-cli gif against its peers, side by side in one run: gifski (the
# quality leader; installed from the npm registry into a cache folder when missing), ffmpeg's
# palettegen/paletteuse (a palette per frame, and one shared palette) and gifsicle -O3, on 2-second
# clips of camera footage (two), a greyscale film, a screen recording, a flat-colour cartoon,
# testsrc2 and mandelbrot. Each row: the file's bytes, PSNR and SSIM as a viewer sees the GIF (its
# frames scaled back to the source's size and shown at the source's frame times), and the median
# wall seconds of three runs. Last, 30 s of 1280x720 H.264 footage to a 480-wide GIF against the
# recipe ffmpeg users type.
# Usage: bench/gif_quality_vs_peers.sh [BUILD_DIR] [SAMPLES_DIR]   (SIZE=640x480 for larger clips,
# CLIPS="camera1 cartoon" for some of them, LONG=0 to skip the 720p row, KEEP=DIR to keep the
# clips)
set -euo pipefail
build=${1:-build}
samples=${2:-$(sed -n 's/^KELVARA_SAMPLES_DIR:PATH=//p' "$build/CMakeCache.txt" 2>/dev/null || true)}
size=${SIZE:-320x240}
width=${size%x*}
height=${size#*x}
cli="$build/kelvara-cli"
[ -x "$cli" ] || { echo "build $cli first (cmake --build $build)"; exit 1; }
for tool in ffmpeg gifsicle npm bc; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh installs it)"; exit 1; }
done
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kelvara-bench
gifski=$cache/node_modules/gifski/bin/debian/gifski
if [ ! -x "$gifski" ]; then
  mkdir -p "$cache"
  (cd "$cache" && npm install --no-audit --no-fund --silent gifski@1.7.1 >/dev/null)
fi
# KEEP=DIR keeps the clips (and the last GIFs) in DIR and makes the clips only when missing.
if [ -n "${KEEP:-}" ]; then
  work=$KEEP
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

now() { date +%s.%N; }
# The median wall time of three runs of the command, in seconds.
timed() {
  local runs=() t0
  for _ in 1 2 3; do
    t0=$(now)
    "$@" >/dev/null 2>&1
    runs+=("$(echo "$(now) - $t0" | bc -l)")
  done
  printf '%s\n' "${runs[@]}" | sort -g | sed -n 2p
}

# The clips: 2 seconds at 320 x 240 (or SIZE) and 25 frames a second (a delay of whole hundredths,
# so that every tool can keep the clip's timing), stored as uncompressed AVIs.
clip() { # NAME FFMPEG-ARGUMENTS...
  local name=$1
  shift
  [ -n "${KEEP:-}" ] && [ -f "$work/$name.avi" ] && return
  ffmpeg -v error -y "$@" -t 2 -an -c:v rawvideo -pix_fmt bgr24 "$work/$name.avi"
}
fit="scale=$width:$height:flags=lanczos,setsar=1,fps=25"
declare -a clips=()
camera="$samples/mimetype-avi-dx50.avi"
vcr="$samples/fate-vcr2-VCR2test.avi"
toon="$samples/riffinfo-simpson.avi"
if [ -f "$camera" ] && [ -f "$vcr" ] && [ -f "$toon" ]; then
  clip camera1 -i "$camera" -vf "trim=start_frame=50,setpts=PTS-STARTPTS,$fit"
  clip camera2 -i "$vcr" -vf "trim=start_frame=20,setpts=PTS-STARTPTS,$fit"
  # A greyscale film: the camera clip without colour, with moving grain.
  clip greyfilm -i "$camera" -vf "trim=start_frame=300,setpts=PTS-STARTPTS,$fit,noise=alls=4:allf=t,format=gray"
  # A flat-colour cartoon: a drawn clip held to 90 colours without dithering.
  clip cartoon -i "$toon" -filter_complex \
    "[0]scale=$width:$height:flags=neighbor,setsar=1,fps=25,split[a][b];[a]palettegen=max_colors=90:stats_mode=full[p];[b][p]paletteuse=dither=none"
  clips+=(camera1 camera2 greyfilm cartoon)
else
  echo "(no camera, film or cartoon clips: the samples are not in '$samples')"
fi
font=/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf
[ -f "$font" ] || font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
# A screen recording: a gradient desktop, a window whose text scrolls, a moving pointer.
clip screen -f lavfi -i "gradients=s=${size}:r=25:c0=0x204060:c1=0x6080a0:speed=0.00001" \
  -f lavfi -i "color=c=white:s=$((width / 2))x$((height * 3 / 4)):r=25" -f lavfi -i color=c=black:s=8x12:r=25 \
  -filter_complex "[1]drawtext=fontfile=$font:textfile=/etc/services:x=4:y='4-t*30':fontsize=11:fontcolor=black[w];\
[0][w]overlay=x=$((width / 8)):y=$((height / 8))[a];[a][2]overlay=x='20+t*70':y='30+t*40'"
clip testsrc2 -f lavfi -i "testsrc2=size=$size:rate=25"
clip mandelbrot -f lavfi -i "mandelbrot=size=$size:rate=25"
clips+=(screen testsrc2 mandelbrot)
[ -n "${CLIPS:-}" ] && read -r -a clips <<<"$CLIPS"

# Bytes, PSNR and SSIM of a GIF as a viewer sees it: decoded, shown at the source's frame times
# (the frame on display at each), scaled back to the source's size, against the source frames.
measure() { # SOURCE GIF
  local rate frames
  rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$1")
  ffmpeg -v error -y -i "$1" -f rawvideo -pix_fmt rgb24 "$work/s.raw"
  frames=$(($(stat -c %s "$work/s.raw") / (width * height * 3)))
  ffmpeg -v error -y -i "$2" -vf "fps=$rate:round=down,scale=$width:$height:flags=bicubic,tpad=stop=-1:stop_mode=clone" \
    -frames:v "$frames" -f rawvideo -pix_fmt rgb24 "$work/g.raw"
  local in="-f rawvideo -pix_fmt rgb24 -s $size -r 25" psnr ssim
  # shellcheck disable=SC2086
  psnr=$(ffmpeg -hide_banner $in -i "$work/s.raw" $in -i "$work/g.raw" -lavfi psnr -f null - 2>&1 |
    grep -o 'average:[0-9.inf]*' | cut -d: -f2)
  # shellcheck disable=SC2086
  ssim=$(ffmpeg -hide_banner $in -i "$work/s.raw" $in -i "$work/g.raw" -lavfi ssim -f null - 2>&1 |
    grep -o 'All:[0-9.]*' | cut -d: -f2)
  [ "$psnr" = inf ] && psnr=99
  echo "$(stat -c %s "$2") $psnr $ssim"
}
row() { # CLIP TOOL SECONDS SOURCE GIF
  local bytes psnr ssim
  read -r bytes psnr ssim < <(measure "$4" "$5")
  printf '%-10s %-34s %9d %7.2f %7.4f %7.2f\n' "$1" "$2" "$bytes" "$psnr" "$ssim" "$3"
}

printf '%-10s %-34s %9s %7s %7s %7s\n' clip tool bytes PSNR SSIM seconds
for c in "${clips[@]}"; do
  src="$work/$c.avi"
  rate=$(ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$src")
  fps=$(echo "$rate" | bc -l)
  rm -rf "$work/png" && mkdir "$work/png"
  ffmpeg -v error -i "$src" "$work/png/%04d.png"
  for q in 90 70; do
    s=$(timed "$gifski" --quiet --fps "$fps" --quality "$q" -o "$work/gifski$q.gif" "$work"/png/*.png)
    row "$c" "gifski --quality $q" "$s" "$src" "$work/gifski$q.gif"
  done
  budget=$(stat -c %s "$work/gifski90.gif")
  s=$(timed "$cli" gif "$src" -o "$work/fit.gif" --quality high --max-size "$budget" --overwrite --quiet)
  row "$c" "kelvara high --max-size $budget" "$s" "$src" "$work/fit.gif"
  for mode in classic high; do
    for optimize in "" --optimize; do
      s=$(timed "$cli" gif "$src" -o "$work/$mode$optimize.gif" --quality "$mode" $optimize --overwrite --quiet)
      row "$c" "kelvara $mode $optimize" "$s" "$src" "$work/$mode$optimize.gif"
    done
    s=$(timed gifsicle -O3 --no-warnings "$work/$mode.gif" -o "$work/$mode-O3.gif")
    row "$c" "gifsicle -O3 (kelvara $mode)" "$s" "$src" "$work/$mode-O3.gif"
  done
  s=$(timed ffmpeg -v error -y -i "$src" -lavfi \
    'split[a][b];[a]palettegen=stats_mode=single[p];[b][p]paletteuse=new=1' "$work/ff-single.gif")
  row "$c" "ffmpeg palette per frame" "$s" "$src" "$work/ff-single.gif"
  s=$(timed ffmpeg -v error -y -i "$src" -lavfi 'split[a][b];[a]palettegen[p];[b][p]paletteuse' "$work/ff-full.gif")
  row "$c" "ffmpeg shared palette" "$s" "$src" "$work/ff-full.gif"
  s=$(timed gifsicle -O3 --lossy=80 --no-warnings "$work/ff-full.gif" -o "$work/ff-lossy.gif")
  row "$c" "gifsicle -O3 --lossy=80 (ffmpeg)" "$s" "$src" "$work/ff-lossy.gif"
  rm -f "$work"/*.gif
done

# 30 s of 1280x720 H.264 camera footage (the camera clip enlarged, looped, with sensor noise) to a
# 480-wide GIF, against ffmpeg's usual recipe.
if [ "${LONG:-1}" = 1 ] && [ -f "$camera" ]; then
  ffmpeg -v error -y -stream_loop 1 -i "$camera" -vf "scale=1280:720:flags=lanczos,noise=alls=4:allf=t" -t 30 -an \
    -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p "$work/long.mp4"
  ours=$(timed "$cli" gif "$work/long.mp4" --width 480 -o "$work/long.gif" --overwrite --quiet)
  theirs=$(timed ffmpeg -v error -y -i "$work/long.mp4" -lavfi \
    'scale=480:-1:flags=lanczos,split[a][b];[a]palettegen[p];[b][p]paletteuse' "$work/long-ff.gif")
  printf '720p H.264 30 s to 480 wide: kelvara %.2f s, ffmpeg %.2f s, ratio %.3f\n' "$ours" "$theirs" \
    "$(echo "$ours / $theirs" | bc -l)"
fi
