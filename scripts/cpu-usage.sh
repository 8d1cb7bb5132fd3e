#!/usr/bin/env bash
# Measures the client's CPU use at the sensor's own rate: builds skarv-client,
# runs `skarv-client --simulate` (the virtual sensor on the real-time clock)
# under a virtual X display for a while, reads the process's CPU time
# (utime + stime from /proc/<pid>/stat) just before sending SIGTERM, and
# reports it as a percentage of one core over the process's lifetime, with
# a breakdown per thread.
# Usage: scripts/cpu-usage.sh [seconds, default 60]   (build dir: BUILD_DIR, default build-cpu;
# CLIENT_ARGS: more options for the client, e.g. "--publish";
# PIN_CPU: a CPU number to run the X server and the client on, both on that
# one CPU, which takes the cost of waking a thread on another CPU out of the
# figures and makes runs repeatable on a shared or virtual machine)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-cpu}"
seconds="${1:-60}"

cmake -S "$root" -B "$build" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target skarv-client

work="$(mktemp -d /tmp/skarv-cpu-XXXXXX)"
trap 'rm -rf "$work"' EXIT

# Runs inside the X session. Fields of /proc/<pid>/stat are counted after
# the command name, which is in parentheses.
measure='
  set -u
  client="$1"; seconds="$2"; work="$3"; extra="$4"
  cd "$work"
  "$client" --simulate $extra >"$work/client.out" 2>"$work/client.err" &
  pid=$!
  sleep "$seconds"
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "skarv-client ended before the measurement:" >&2
    tail -n 20 "$work/client.err" >&2
    exit 1
  fi
  hz=$(getconf CLK_TCK)
  fields() { local s; s=$(cat "$1"); echo "${s##*) }"; }
  read -r -a f <<<"$(fields /proc/$pid/stat)"
  ticks=$(( f[11] + f[12] ))          # utime + stime
  started=${f[19]}                    # start time, ticks after boot
  read -r up _ </proc/uptime
  threads=""
  for task in /proc/$pid/task/*; do
    read -r -a t <<<"$(fields "$task/stat")" || continue
    threads+="$(cat "$task/comm" 2>/dev/null) tid ${task##*/}: $(( t[11] + t[12] )) ticks"$'\''\n'\''
  done
  kill -TERM "$pid"
  status=0
  wait "$pid" || status=$?
  awk -v ticks="$ticks" -v hz="$hz" -v started="$started" -v up="$up" -v status="$status" -v seconds="$seconds" -v extra="$extra" '\''BEGIN {
    elapsed = up - started / hz
    cpu = ticks / hz
    printf "skarv-client --simulate%s, %d s requested, %.1f s alive: CPU %.2f s (utime+stime) = %.2f %% of one core\n", (extra == "" ? "" : " " extra), seconds, elapsed, cpu, 100 * cpu / elapsed
    printf "exit status after SIGTERM: %d\n", status
  }'\''
  printf "per thread (ticks of 1/%s s):\n%s" "$hz" "$threads"
  echo "lines printed: $(wc -l <"$work/client.out") to stdout, $(wc -l <"$work/client.err") to stderr"
'
pin=()
if [ -n "${PIN_CPU:-}" ]; then
  pin=(taskset -c "$PIN_CPU")
  echo "X server and client on CPU $PIN_CPU only"
fi
"${pin[@]}" xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$measure" measure "$build/skarv-client" "$seconds" "$work" "${CLIENT_ARGS:-}"
