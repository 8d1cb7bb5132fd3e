#!/usr/bin/env bash
# Records published and received a second through DDS over the loopback
# interface alone (two processes), as a multiple of the sensor link's limit
# of 124,000 records a second. Release build in build-bench.
# Usage: scripts/bench-dds.sh [records, default 12000000]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-bench"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSKARV_BENCHMARKS=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target skarv-dds-bench
export CYCLONEDDS_URI="file://$root/tests/dds/loopback.xml"
export ROS_DOMAIN_ID="${ROS_DOMAIN_ID:-43}"
exec "$build/bench/skarv-dds-bench" "$@"
