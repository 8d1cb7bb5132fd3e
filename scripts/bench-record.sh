#!/usr/bin/env bash
# Times skarv-record end to end on a recording played back as fast as the
# data path takes it: `skarv-record --replay FILE --speed 0`, CSV in and CSV
# out, from the program's start to its end. Reports records a second and
# x_link, the multiple of what the sensor's link can carry at most (124,000
# records a second), and checks that the recording made is the one read.
# Without a FILE it first records SECONDS (default 20) of the virtual sensor.
# Usage: scripts/bench-record.sh [FILE | SECONDS]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-bench}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSKARV_BENCHMARKS=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target skarv-record >/dev/null
record="$build/skarv-record"

work="$(mktemp -d /tmp/skarv-bench-record-XXXXXX)"
trap 'rm -rf "$work"' EXIT

if [ -f "${1:-}" ]; then
  source="$1"
else
  seconds="${1:-20}"
  echo "Recording ${seconds} s of the virtual sensor first..." >&2
  mkdir "$work/source"
  "$record" --simulate --quiet --duration "$seconds" --output-dir "$work/source" >/dev/null 2>"$work/source.err" ||
    { cat "$work/source.err" >&2; exit 1; }
  source="$work/source/SkarvData-1.csv"
fi
records=$(($(wc -l <"$source") - 1))

mkdir "$work/out"
TIMEFORMAT='%R %U %S'
status=0
timing=$({ time "$record" --replay "$source" --speed 0 --quiet --output-dir "$work/out" >/dev/null 2>"$work/replay.err"; } 2>&1) ||
  status=$?
if [ "$status" -ne 0 ]; then
  cat "$work/replay.err" >&2
  exit 1
fi

if cmp -s "$source" "$work/out/SkarvData-1.csv"; then same="byte for byte"; else same="NOT the same as"; fi
read -r real user sys <<<"$timing"
awk -v records="$records" -v real="$real" -v cpu="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" -v same="$same" 'BEGIN {
  printf "skarv-record --replay FILE --speed 0: %d records in %.2f s (%.2f s of CPU)\n", records, real, cpu
  printf "  wall clock: %.0f records/s, x_link %.1f\n", records / real, records / real / 124000
  printf "  CPU time:   %.0f records/s, x_link %.1f\n", records / cpu, records / cpu / 124000
  printf "  the recording made is %s the file read\n", same
}'
