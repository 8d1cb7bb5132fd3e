#!/usr/bin/env bash
# The client's CPU use with --publish next to without, the virtual sensor at
# its top rate (3600 rpm, 120 records a millisecond), over the loopback
# interface alone. With --publish a second process receives every topic, so
# that every record and message is really written (with no reader at all
# publishing costs next to nothing). Uses scripts/cpu-usage.sh.
# Usage: scripts/cpu-usage-dds.sh [seconds, default 30]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-cpu}"
seconds="${1:-30}"
export BUILD_DIR="$build"
export SKARV_SIM_RPM=3600
export CYCLONEDDS_URI="file://$root/tests/dds/loopback.xml"
export ROS_DOMAIN_ID="${ROS_DOMAIN_ID:-44}"
ns="cpu$$"

cmake -S "$root" -B "$build" -DBUILD_TESTING=OFF -DSKARV_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target skarv-client skarv-dds-bench

echo "== without --publish"
"$root/scripts/cpu-usage.sh" "$seconds"

echo "== with --publish, every topic received by another process"
"$build/bench/skarv-dds-bench" --receive "$ns" 1000000000000 &
receiver=$!
trap 'kill "$receiver" 2>/dev/null || true' EXIT
CLIENT_ARGS="--publish --namespace $ns" "$root/scripts/cpu-usage.sh" "$seconds"
wait "$receiver" || true
