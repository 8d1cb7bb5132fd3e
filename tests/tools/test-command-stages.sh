#!/usr/bin/env bash
# The README's test command after its run command: scripts/record.sh (and
# scripts/run.sh) configure build/ without tests, and scripts/test.sh must
# still configure every stage with its tests, and fail a stage without any.
set -euo pipefail
root="$1"
work="$(mktemp -d /tmp/skarv-stages-XXXXXX)"
trap 'rm -rf "$work"' EXIT
cmake -S "$root" -B "$work/build" -DBUILD_TESTING=OFF >/dev/null
SKARV_BUILD_ROOT="$work" SKARV_CONFIGURE_ONLY=1 "$root/scripts/test.sh" >"$work/log" 2>&1 || {
  cat "$work/log"
  exit 1
}
for stage in build build-asan build-tsan; do
  if ! grep -q '^BUILD_TESTING:BOOL=ON$' "$work/$stage/CMakeCache.txt"; then
    echo "$stage is configured without its tests"
    exit 1
  fi
done
grep -q -- '--no-tests=error' "$root/scripts/test.sh" || { echo "a stage without tests would pass"; exit 1; }
echo "every stage is configured with its tests"
