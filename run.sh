#!/usr/bin/env bash
# Installs what is missing, builds Kelvara and starts it.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
# The desktop program is not built yet: show what the command-line front end reads from a small
# sample video made on the spot.
sample=build/sample.avi
if [ ! -f "$sample" ]; then
  ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25:duration=2 -c:v mjpeg "$sample"
fi
echo "The desktop program is not built yet; running: kelvara-cli info $sample"
exec build/kelvara-cli info "$sample"
