#!/usr/bin/env bash
# Installs what the build needs, builds the recorder and starts it; it needs
# no display. Arguments go to skarv-record; without any it records the
# virtual sensor for 10 seconds into the working directory.
# Usage: scripts/record.sh [skarv-record options] [build-directory via BUILD_DIR]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DBUILD_TESTING=OFF
cmake --build "$build" -j "$(nproc)" --target skarv-record
if [ $# -eq 0 ]; then
  set -- --simulate --duration 10
fi
exec "$build/skarv-record" "$@"
