#!/usr/bin/env bash
# Installs dependencies, builds and runs the whole test suite:
#   1. the normal build (warnings as errors) with every test,
#   2. the AddressSanitizer + UndefinedBehaviorSanitizer build with every test,
#   3. the libFuzzer targets, each for a short time.
# FUZZ_SECONDS sets the time per fuzz target (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

fuzz_seconds=${FUZZ_SECONDS:-30}
ctest_args=(--output-on-failure --timeout 300 -j2)

echo "== build and test"
cmake -S . -B build/ci -G Ninja -DVISTARO_WERROR=ON >/dev/null
ninja -C build/ci
ctest --test-dir build/ci "${ctest_args[@]}"

echo "== sanitizer build and test"
cmake -S . -B build/asan -G Ninja -DVISTARO_WERROR=ON -DVISTARO_SANITIZE=ON \
  -DVISTARO_BENCH=OFF >/dev/null
ninja -C build/asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp" ctest --test-dir build/asan "${ctest_args[@]}"

echo "== fuzz targets (${fuzz_seconds} s each)"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DVISTARO_FUZZ=ON -DVISTARO_BENCH=OFF \
  >/dev/null
ninja -C build/fuzz fuzz_targets
# Real camera-like streams as starting points, so the decoders' inner paths are reached quickly.
seed_picture_corpus() {
  local corpus=build/fuzz/corpus/picture_decode_fuzz source="-f lavfi -i testsrc2=size=160x120:rate=10"
  mkdir -p "$corpus"
  [ -z "$(ls -A "$corpus")" ] || return 0
  for profile in baseline high; do
    { printf '\x00'; ffmpeg -v error -nostdin $source -frames:v 4 -c:v libx264 -profile:v "$profile" \
        -g 2 -f h264 -; } >"$corpus/seed-h264-$profile"
  done
  { printf '\x01'; ffmpeg -v error -nostdin $source -frames:v 2 -c:v mjpeg -pix_fmt yuvj422p \
      -f mjpeg -; } >"$corpus/seed-mjpeg"
}
seed_picture_corpus
for target in build/fuzz/bin/*_fuzz; do
  [ -x "$target" ] || continue
  corpus="build/fuzz/corpus/$(basename "$target")"
  mkdir -p "$corpus"
  echo "-- $(basename "$target")"
  "$target" -max_total_time="$fuzz_seconds" -max_len=65536 -rss_limit_mb=2048 "$corpus" 2>&1 | tail -n 3
done
echo "== all tests passed"
