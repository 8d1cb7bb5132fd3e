#!/usr/bin/env bash
# Installs what the build needs, configures, builds warning-free and runs
# every test. Usage: scripts/test.sh [build-directory]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DSKARV_WERROR=ON
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
