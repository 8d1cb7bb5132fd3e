#!/usr/bin/env bash
# Installs what the build needs, then builds warning-free and runs every test
# three times: a plain build, one with AddressSanitizer and
# UndefinedBehaviorSanitizer, and one with ThreadSanitizer; finally each
# fuzz target runs briefly on its seed corpus.
# Usage: scripts/test.sh [--quick]     --quick: the plain build only
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
quick=false
if [ "${1:-}" = "--quick" ]; then
  quick=true
fi

"$root/scripts/setup.sh"

jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp"
export TSAN_OPTIONS="suppressions=$root/tests/sanitizers/tsan.supp second_deadlock_stack=1"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"

run_stage() {
  local name="$1" dir="$2"
  shift 2
  echo "=== $name"
  cmake -S "$root" -B "$dir" -DSKARV_WERROR=ON "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_stage "plain build" "$root/build"
if [ "$quick" = true ]; then
  echo "stages: 1 passed, 0 failed"
  exit 0
fi
run_stage "AddressSanitizer and UndefinedBehaviorSanitizer" "$root/build-asan" -DSKARV_SANITIZER=address
run_stage "ThreadSanitizer" "$root/build-tsan" -DSKARV_SANITIZER=thread
echo "=== fuzzing"
"$root/scripts/fuzz.sh" 20
# Every stage stops the script when it fails, so reaching here means all passed.
echo "stages: 4 passed, 0 failed"
