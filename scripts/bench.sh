#!/usr/bin/env bash
# Builds the benchmarks in a Release build (build-bench) and runs them.
# Every throughput is also given as x_link: a multiple of what the sensor's
# link can carry at most (124 records per 1 ms frame, 124,000 a second).
# Times are the benchmark thread's CPU time, on one core.
# Usage: scripts/bench.sh [Google Benchmark options, e.g. --benchmark_filter=Decode]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-bench"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSKARV_BENCHMARKS=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target skarv-bench
exec "$build/bench/skarv-bench" --benchmark_counters_tabular=true "$@"
