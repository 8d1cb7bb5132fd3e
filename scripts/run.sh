#!/usr/bin/env bash
# Installs what the build needs, builds the client and starts it. Extra
# arguments go to the client; without any it runs on the virtual sensor.
# Usage: scripts/run.sh [--simulate] [build-directory via BUILD_DIR]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DBUILD_TESTING=OFF
cmake --build "$build" -j "$(nproc)" --target skarv-client
if [ $# -eq 0 ]; then
  set -- --simulate
fi
exec "$build/skarv-client" "$@"
