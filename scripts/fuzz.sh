#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) and runs
# each for a while. Inputs that crash are left in tests/fuzz/findings/; keep them as regression
# cases. Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARA_FUZZERS=ON \
  -DKELVARA_BUILD_TESTS=OFF -DKELVARA_BUILD_BENCHMARKS=OFF -DKELVARA_BUILD_DESKTOP=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)"
mkdir -p tests/fuzz/findings

# Seeds: small valid files of every kind, made on the spot.
seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds"/{picture_reader,bmp,gif_document,frame_source} "$seeds/files"
(
  cd "$seeds/files"
  convert -size 5x3 gradient:red-blue a.bmp
  convert -size 5x3 gradient:red-blue -type palette a8.bmp
  convert -size 6x4 xc:white -fill black -draw 'point 1,1' -compress RLE rle.bmp
  for ext in gif pcx tga ppm png; do convert -size 5x3 gradient:red-blue "a.$ext"; done
  convert -size 5x3 gradient:red-blue -compress lzw a.tif
  convert -size 8x8 gradient:red-blue a.jpg
)
cp "$seeds"/files/*.bmp "$seeds/bmp/"
cp "$seeds/files/a.gif" "$seeds/gif_document/"
# The picture reader's first byte picks the kind of file.
for pair in "0 a.jpg" "3 a.png" "4 a.tif" "5 a.pcx" "6 a.gif" "8 a8.bmp" "11 a.tga" "12 a.ppm"; do
  set -- $pair
  { printf "\\$(printf '%03o' "$1")"; cat "$seeds/files/$2"; } > "$seeds/picture_reader/$2"
done
ffmpeg -v error -y -f lavfi -i testsrc=size=16x16:rate=5 -frames:v 3 -c:v mjpeg "$seeds/frame_source/mjpeg.avi"
ffmpeg -v error -y -f lavfi -i testsrc=size=8x6:rate=5 -frames:v 2 -c:v rawvideo -pix_fmt bgr24 \
  "$seeds/frame_source/raw.avi"
for target in picture_reader bmp gif_document frame_source; do
  corpus="build-fuzz/corpus/$target"
  mkdir -p "$corpus"
  echo "== fuzz_$target for ${seconds}s"
  build-fuzz/tests/fuzz/fuzz_$target "$corpus" "$seeds/$target" -max_total_time="$seconds" \
    -max_len=65536 -rss_limit_mb=4096 -artifact_prefix="tests/fuzz/findings/${target}-" -print_final_stats=1 \
    2>&1 | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY|Done' || true
done
