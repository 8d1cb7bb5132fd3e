#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for the given number of
# seconds, starting from a copy of its seed corpus in fuzz/corpus/<target>/
# (the repository's corpus is never written). A target that finds a crash
# or a broken property stops; its reproducer is kept and the script fails.
# Usage: scripts/fuzz.sh [seconds per target, default 30]
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${1:-30}"
targets=(data-frame parameter-frame value-text mcap-reader)

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DSKARV_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz-}"

work="$(mktemp -d /tmp/skarv-fuzz-XXXXXX)"
failed=()
for target in "${targets[@]}"; do
  dir="$work/$target"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp -r "$root/fuzz/corpus/$target/." "$dir/corpus/"
  echo "== fuzz-$target for ${seconds} s"
  if "$build/fuzz/fuzz-$target" -max_total_time="$seconds" -max_len=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/artifacts/" "$dir/corpus" >"$dir/log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+DONE' "$dir/log" | tail -n 1 || true
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$dir/log" || true
  else
    failed+=("$target")
    tail -n 40 "$dir/log"
    echo "reproducer(s): $(ls "$dir"/artifacts/* 2>/dev/null | tr '\n' ' ')"
    echo "replay: $build/fuzz/fuzz-$target <reproducer>"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "FINDINGS in: ${failed[*]} (logs and reproducers kept in $work)"
  exit 1
fi
rm -rf "$work"
echo "no findings"
