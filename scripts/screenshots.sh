#!/usr/bin/env bash
# Starts the program under a virtual X display, opens a sample video, converts part of it, opens
# every window and saves a screenshot of each: at the usual font size into OUTPUT_DIR, and at one
# and a half times the font into OUTPUT_DIR/large-font.
# Usage: scripts/screenshots.sh [VIDEO] [OUTPUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
video=${1:-../shared/samples/fate-cram-skating.avi}
out=${2:-docs/screenshots}
[ -x build/tests/kelvara_screenshots ] || cmake --build build --target kelvara_screenshots
export KELVARA_SPLASH_MS=0
xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/kelvara_screenshots "$video" "$out"
xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/kelvara_screenshots "$video" "$out/large-font" 1.5
