#!/usr/bin/env bash
# Installs what is missing, builds Kelvara and starts the desktop program.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # No display: run on a virtual one so that the program still starts.
  exec xvfb-run -a -s "-screen 0 1280x1024x24" build/kelvara "$@"
fi
exec build/kelvara "$@"
