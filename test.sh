#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds Kelvara with warnings as errors, runs
# every test and a short fuzz smoke.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
./scripts/check-format.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVARA_WARNINGS_AS_ERRORS=ON
cmake --build build -j "$(nproc)"
samples=$(sed -n 's/^KELVARA_SAMPLES_DIR:PATH=//p' build/CMakeCache.txt)
if [ -n "$samples" ] && [ ! -e "$samples/skimage-gradient.avi" ]; then
  echo "Note: no sample AVIs in $samples: the tests that read them are skipped (listed at the end)."
  echo "      Configure with -DKELVARA_SAMPLES_DIR=DIR to run them."
fi
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)")
# A few seconds of each fuzz target on fresh seeds and the kept regression inputs.
./scripts/fuzz.sh --smoke
