#!/usr/bin/env bash
# Installs every build, test and run dependency from Debian's archive.
# Called by both README commands and by .ci/run; safe to run again.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # media, transport, parsing
  libavcodec-dev libavutil-dev libswscale-dev libavformat-dev libx264-dev
  libudt-dev libpugixml-dev libturbojpeg0-dev libsqlite3-dev
  # windows, sound
  qt6-base-dev qt6-tools-dev libqt6opengl6-dev qt6-qpa-plugins fonts-dejavu-core libgl-dev portaudio19-dev
  # run-time tools and test oracles
  ffmpeg sqlite3 p7zip-full xvfb xauth python3 procps iproute2
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
