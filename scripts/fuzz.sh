#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) and runs
# them, one target at a time, on small valid files of every kind made on the spot and the inputs
# kept in tests/fuzz/regressions/TARGET/.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   each target for SECONDS (default 60)
#   scripts/fuzz.sh --runs N [TARGET...]    each target for N executions (the campaign: 1000000)
#   scripts/fuzz.sh --smoke                 every target for a few seconds; fails on any finding
#
# Corpora grow in build-fuzz/corpus/TARGET. An input that crashes, leaks, runs longer than 10 s
# or past 2 GiB is saved in tests/fuzz/findings/; once mended, keep it in
# tests/fuzz/regressions/TARGET/, where the unit tests replay it too.
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(picture_reader bmp gif_document frame_source pcx targa gif_picture tiff anymap icon)
limit=(-max_total_time=60)
smoke=false
case "${1:-}" in
--runs)
  limit=(-runs="$2")
  shift 2
  ;;
--smoke)
  limit=(-max_total_time=4)
  smoke=true
  shift
  ;;
[0-9]*)
  limit=(-max_total_time="$1")
  shift
  ;;
esac
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARA_FUZZERS=ON \
  -DKELVARA_BUILD_TESTS=OFF -DKELVARA_BUILD_BENCHMARKS=OFF -DKELVARA_BUILD_DESKTOP=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" >/dev/null
mkdir -p tests/fuzz/findings

# Seeds: small valid files of every kind, made on the spot.
seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds/files"
for target in "${all_targets[@]}"; do mkdir -p "$seeds/$target"; done
(
  cd "$seeds/files"
  pattern=(-size 5x3 gradient:red-blue)
  convert "${pattern[@]}" a.bmp
  convert "${pattern[@]}" -type palette a8.bmp
  convert -size 6x4 xc:white -fill black -draw 'point 1,1' -compress RLE rle.bmp
  convert "${pattern[@]}" -colors 16 -compress RLE BMP3:rle4.bmp
  for ext in gif pcx tga ppm pgm pbm png ico; do convert "${pattern[@]}" "a.$ext"; done
  convert "${pattern[@]}" -interlace GIF interlaced.gif
  convert -delay 10 "${pattern[@]}" -size 5x3 gradient:blue-red -loop 0 animated.gif
  convert "${pattern[@]}" -type palette a8.pcx
  convert "${pattern[@]}" -monochrome mono.pcx
  convert "${pattern[@]}" -compress RLE rle.tga
  convert "${pattern[@]}" -type palette palette.tga
  convert "${pattern[@]}" -compress none plain.ppm
  convert "${pattern[@]}" -monochrome -compress none plain.pbm
  for compression in None LZW RLE Zip JPEG; do convert "${pattern[@]}" -compress $compression "$compression.tif"; done
  convert "${pattern[@]}" -compress LZW -define tiff:predictor=2 predictor.tif
  convert "${pattern[@]}" -monochrome -compress Group4 g4.tif
  convert "${pattern[@]}" -monochrome -compress Fax g3.tif
  convert -size 20x20 gradient:red-blue -compress LZW -define tiff:tile-geometry=16x16 tiled.tif
  convert -size 8x8 gradient:red-blue a.jpg
  convert -size 8x8 gradient:red-blue a.jp2
)
# BMPs of the kinds writers make beside the usual ones: pixels after a gap found through the pixel
# offset, a colours-used count with no table stored, bit fields, the old core header, a large
# header, top-down rows, run-length data after a gap, offsets into the table and past the end.
le16() { printf "\\$(printf '%03o' $(($1 & 255)))\\$(printf '%03o' $((($1 >> 8) & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $((($1 >> 16) & 65535)); }
bytes() { LC_ALL=C awk -v n="$1" -v m="$2" 'BEGIN { for (i = 0; i < n; i++) printf "%c", (i * 7 + 3) % m }'; }
# bmp FILE BITS WIDTH HEIGHT COMPRESSION COLOURS_USED HEADER_SIZE TABLE_ENTRIES MASKS GAP [OFFSET] [DATA_BYTES]
bmp() {
  local file=$1 bits=$2 w=$3 h=$4 compression=$5 used=$6 header=$7 entries=$8 masks=$9 gap=${10}
  local entry=4 abs_h=${h#-}
  [ "$header" -eq 12 ] && entry=3
  local offset=${11:-$((14 + header + 4 * masks + entry * entries + gap))}
  local data=${12:-$(((bits * w + 31) / 32 * 4 * abs_h))}
  {
    printf 'BM'; le32 $((offset + data)); le32 0; le32 "$offset"; le32 "$header"
    if [ "$header" -eq 12 ]; then
      le16 "$w"; le16 "$h"; le16 1; le16 "$bits"
    else
      le32 "$w"; le32 $((h & 0xFFFFFFFF)); le16 1; le16 "$bits"; le32 "$compression"; le32 0; le32 2835
      le32 2835; le32 "$used"; le32 0
      head -c $((header - 40)) /dev/zero
    fi
    [ "$masks" -eq 3 ] && { le32 $((0xF800)); le32 $((0x07E0)); le32 $((0x001F)); }
    bytes $((entry * entries)) 256
    bytes "$gap" 256
    if [ "$compression" -eq 1 ]; then
      for ((row = 0; row < abs_h; row++)); do printf '\x03\x01\x00\x02\x02\x05\x00\x00'; done
      printf '\x00\x01'
    else
      bytes "$data" $((bits <= 8 ? (1 << bits) : 256))
    fi
  } >"$file"
}
(
  cd "$seeds/files"
  bmp pal8offs.bmp 8 13 9 0 256 40 256 0 100
  bmp pal8gap2.bmp 8 13 9 0 16 40 16 0 2
  bmp pal4gap.bmp 4 11 5 0 16 40 16 0 6
  bmp pal1gap.bmp 1 17 3 0 2 40 2 0 10
  bmp pal8topdown-gap.bmp 8 7 -6 0 0 40 256 0 12
  bmp pal8v5-gap.bmp 8 9 4 0 64 124 64 0 4
  bmp pal8os2-gap.bmp 8 9 4 0 0 12 256 0 8
  bmp rgb24-used-no-table.bmp 24 9 4 0 256 40 0 0 0
  bmp rgb24-table.bmp 24 9 4 0 16 40 16 0 0
  bmp rgb16-565-gap.bmp 16 9 4 3 0 40 0 3 6
  bmp rgb32-gap.bmp 32 5 3 0 0 40 0 0 16
  bmp rle8-gap.bmp 8 8 4 1 16 40 16 0 4 "" 34
  bmp pal8-offset-into-table.bmp 8 6 3 0 16 40 16 0 0 70
  bmp pal8-offset-past-end.bmp 8 6 3 0 16 40 16 0 0 100000
)
files=$seeds/files
cp "$files"/*.bmp "$seeds/bmp/"
cp "$files/a.gif" "$files/animated.gif" "$seeds/gif_document/"
cp "$files"/*.pcx "$seeds/pcx/"
cp "$files"/*.tga "$seeds/targa/"
cp "$files"/*.gif "$seeds/gif_picture/"
cp "$files"/*.tif "$seeds/tiff/"
cp "$files"/*.ppm "$files"/*.pgm "$files"/*.pbm "$seeds/anymap/"
cp "$files/a.ico" "$seeds/icon/"
# The picture reader's first byte picks the kind of file.
for pair in "0 a.jpg" "1 a.jp2" "3 a.png" "4 LZW.tif" "5 a.pcx" "6 a.gif" "8 a8.bmp" "10 a.ico" "11 a.tga" "12 a.ppm"; do
  set -- $pair
  { printf "\\$(printf '%03o' "$1")"; cat "$files/$2"; } >"$seeds/picture_reader/$2"
done
# The frame source reads every container FFmpeg does: small MP4, MOV, Matroska, WebM and MPEG-TS
# files, with B-frames, an edit list and variable timestamps, beside the AVIs.
small=(-f lavfi -i testsrc=size=16x16:rate=5 -frames:v 6)
ffmpeg -v error -y "${small[@]}" -c:v libx264 -bf 2 -g 3 -movflags +faststart "$seeds/frame_source/h264.mp4"
ffmpeg -v error -y -ss 0.4 -i "$seeds/frame_source/h264.mp4" -c copy "$seeds/frame_source/edit-list.mp4"
ffmpeg -v error -y "${small[@]}" -c:v mpeg4 -g 2 "$seeds/frame_source/mpeg4.mov"
ffmpeg -v error -y "${small[@]}" -vf "settb=1/1000,setpts='N*200+if(eq(mod(N,2),1),37,0)'" -vsync vfr \
  -enc_time_base:v 1:1000 -c:v libx264 -bf 2 -g 3 "$seeds/frame_source/vfr.mkv"
ffmpeg -v error -y "${small[@]}" -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -g 3 "$seeds/frame_source/vp9.webm"
ffmpeg -v error -y "${small[@]}" -c:v mpeg2video -bf 2 -g 3 "$seeds/frame_source/mpeg2.ts"
# Frames that are decoded but never shown: VP8 alternate references in packets of their own (the
# reference encoder's two passes), AV1 frames split into packets of their own. And two MPEG program
# streams joined end to end, whose timestamps start again.
ffmpeg -v error -y -f lavfi -i testsrc=size=16x16:rate=5 -frames:v 12 -pix_fmt yuv420p "$files/source.y4m"
vpxenc --codec=vp8 --good --passes=2 --auto-alt-ref=1 --lag-in-frames=8 -q \
  -o "$seeds/frame_source/vp8-altref.webm" "$files/source.y4m"
ffmpeg -v error -y -f lavfi -i testsrc=size=16x16:rate=5 -frames:v 12 -c:v libaom-av1 -cpu-used 8 \
  -lag-in-frames 8 -auto-alt-ref 1 -g 4 "$files/av1.mkv"
ffmpeg -v error -y -i "$files/av1.mkv" -c copy -bsf:v av1_frame_split "$seeds/frame_source/av1-split.mkv"
ffmpeg -v error -y "${small[@]}" -c:v mpeg2video -bf 2 -g 3 -f vob "$files/part.mpg"
cat "$files/part.mpg" "$files/part.mpg" >"$seeds/frame_source/joined.mpg"
ffmpeg -v error -y -f lavfi -i testsrc=size=16x16:rate=5 -frames:v 3 -c:v mjpeg "$seeds/frame_source/mjpeg.avi"
ffmpeg -v error -y -f lavfi -i testsrc=size=8x6:rate=5 -frames:v 2 -c:v rawvideo -pix_fmt bgr24 \
  "$seeds/frame_source/raw.avi"
ffmpeg -v error -y -f lavfi -i testsrc=size=16x16:rate=5 -frames:v 4 -c:v mpeg4 -g 2 "$seeds/frame_source/mpeg4.avi"
ffmpeg -v error -y -f lavfi -i testsrc=size=8x8:rate=5 -frames:v 2 -c:v msvideo1 -pix_fmt rgb555le \
  "$seeds/frame_source/msvideo1.avi"

failed=()
for target in "${targets[@]}"; do
  corpus="build-fuzz/corpus/$target"
  regressions="tests/fuzz/regressions/$target"
  mkdir -p "$corpus"
  inputs=("$corpus" "$seeds/$target")
  [ -d "$regressions" ] && inputs+=("$regressions")
  echo "== fuzz_$target ${limit[*]}"
  start=$(date +%s)
  status=0
  # The frame source's pictures are large and many: a smaller quarantine of freed memory keeps a
  # long run's resident memory well under the limit.
  quarantine=256
  [ "$target" = frame_source ] && quarantine=64
  ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=$quarantine} \
    build-fuzz/tests/fuzz/fuzz_$target "${inputs[@]}" "${limit[@]}" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="tests/fuzz/findings/${target}-" -print_final_stats=1 \
    >"build-fuzz/fuzz_$target.log" 2>&1 || status=$?
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb|ERROR|SUMMARY' "build-fuzz/fuzz_$target.log" || true
  echo "   $(($(date +%s) - start)) s, exit status $status"
  [ $status -eq 0 ] || failed+=("$target")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Findings in: ${failed[*]} (see tests/fuzz/findings/ and build-fuzz/fuzz_TARGET.log)"
  exit 1
fi
