#!/usr/bin/env bash
# Installs the Debian packages that building and testing Kelvara need.
# Installs nothing when everything is already present.
set -euo pipefail

packages=(
  # toolchain, and the formatter ./test.sh checks the sources with
  build-essential cmake pkg-config git clang-format
  # video: FFmpeg libraries behind the frame source, and the ffmpeg tool
  # that makes codec fixtures for the tests and runs the benchmarks
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  # the reference VP8 encoder, whose two-pass files hold frames that are never shown
  vpx-tools
  # still-image codecs: JPEG (IJG API, version 62), PNG with zlib, JPEG 2000
  libjpeg62-turbo-dev libpng-dev zlib1g-dev libopenjp2-7-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev bc
  # the GIF quality benchmark compares with gifsicle's optimiser
  gifsicle
  # independent decoders used by the tests as oracles
  libgif-dev libtiff-dev imagemagick
  # the command line's tests: manual pages checked with groff, zsh completion syntax, a terminal
  # for the progress bar (script), private mounts for full and read-only disks (unshare, mount)
  groff-base zsh bsdutils util-linux mount
  # the fuzz smoke: clang with libFuzzer and the address and undefined-behaviour sanitizers
  clang libclang-rt-14-dev
  # the desktop program: Qt 6 Widgets and Multimedia; a virtual display and fonts for its tests
  qt6-base-dev qt6-multimedia-dev libgl-dev xvfb xauth fonts-dejavu-core
  # the install test: the desktop entry's and the AppStream file's validators
  desktop-file-utils appstream
  # the player's sound tests: a private sound server and its recorder; memory checks of the player
  pulseaudio pulseaudio-utils valgrind
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
