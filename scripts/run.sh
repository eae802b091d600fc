#!/usr/bin/env bash
# Installs dependencies, builds, and runs the main job: simulated H.264 cameras and the
# diagnostic tool watching one of them. Arguments after the command go to zqprobe.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTARO_TESTS=OFF >/dev/null
ninja -C build/release camsim zqprobe

bin=build/release/bin
port=${CAMSIM_PORT:-18600}
web=${CAMSIM_WEB_PORT:-18680}
# Four cameras on consecutive ports; the first is watched.
"$bin/camsim" h264 --port "$port" --web-port "$web" --count 4 </dev/null &
camsim_pid=$!
trap 'kill $camsim_pid 2>/dev/null; wait $camsim_pid 2>/dev/null' EXIT
sleep 1
"$bin/zqprobe" --host 127.0.0.1 --port "$port" --web-port "$web" --user admin --password admin \
  --seconds "${PROBE_SECONDS:-20}" "$@"
