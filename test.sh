#!/usr/bin/env bash
# Installs what is missing, builds Kelvara, runs every test and a short fuzz smoke.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)")
# A few seconds of each fuzz target on fresh seeds and the kept regression inputs.
./scripts/fuzz.sh --smoke
