#!/usr/bin/env bash
# Installs what the build needs, then builds warning-free and runs every test
# three times: a plain build (its Debian package built, checked, installed,
# tried and purged), one with AddressSanitizer and
# UndefinedBehaviorSanitizer, and one with ThreadSanitizer; finally each
# fuzz target runs briefly on its seed corpus.
# Usage: scripts/test.sh [--quick]     --quick: the plain build only
# SKARV_BUILD_ROOT puts the build folders elsewhere (default: the checkout);
# SKARV_CONFIGURE_ONLY=1 stops each stage after its configuration (the
# script's own test uses both).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build_root="${SKARV_BUILD_ROOT:-$root}"
quick=false
if [ "${1:-}" = "--quick" ]; then
  quick=true
fi

"$root/scripts/setup.sh"
# The MCAP files the tests write are read back by the MCAP project's own
# reader, its packages pinned in the lock file; installed again only when the
# lock file changed (npm ci empties node_modules first, under any test using it).
reader="$root/tests/mcap-reader"
if ! cmp -s "$reader/package-lock.json" "$reader/node_modules/.installed-lock.json"; then
  npm ci --prefix "$reader" --no-audit --no-fund --loglevel=error
  cp "$reader/package-lock.json" "$reader/node_modules/.installed-lock.json"
fi

jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS="suppressions=$root/tests/sanitizers/lsan.supp"
export TSAN_OPTIONS="suppressions=$root/tests/sanitizers/tsan.supp second_deadlock_stack=1"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"

run_stage() {
  local name="$1" dir="$2"
  shift 2
  echo "=== $name"
  # Testing on in every stage, whatever an earlier configuration of the same
  # folder chose (scripts/run.sh and scripts/record.sh configure build/
  # without tests); a stage that finds no test fails.
  cmake -S "$root" -B "$dir" -DSKARV_WERROR=ON -DBUILD_TESTING=ON "$@"
  if [ "${SKARV_CONFIGURE_ONLY:-0}" = 1 ]; then
    return
  fi
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs"
}

run_stage "plain build" "$build_root/build"
if [ "${SKARV_CONFIGURE_ONLY:-0}" != 1 ]; then
  # The Debian package of the plain build, checked by lintian, installed on
  # this machine, tried and purged again (scripts/test-package.sh).
  echo "=== Debian package"
  deb="$("$root/scripts/package.sh" "$build_root/build")"
  "$root/scripts/test-package.sh" "$deb"
fi
if [ "$quick" = true ]; then
  echo "stages: 1 passed, 0 failed"
  exit 0
fi
run_stage "AddressSanitizer and UndefinedBehaviorSanitizer" "$build_root/build-asan" -DSKARV_SANITIZER=address
run_stage "ThreadSanitizer" "$build_root/build-tsan" -DSKARV_SANITIZER=thread
if [ "${SKARV_CONFIGURE_ONLY:-0}" = 1 ]; then
  echo "stages configured"
  exit 0
fi
echo "=== fuzzing"
"$root/scripts/fuzz.sh" 20
# Every stage stops the script when it fails, so reaching here means all passed.
echo "stages: 4 passed, 0 failed"
