#!/usr/bin/env bash
# Runs the client on the virtual sensor under Xvfb with its trends window
# open (--trends), takes a picture of the three windows once scans are being
# drawn, and checks it for the red and green traces, filled bars, the control
# panel's status line showing the stream, and the trends window's traces and
# band.
# Usage: scripts/screenshot.sh [skarv-client] [skarv-screen-grab] [output.png] [depth]
# depth: the virtual screen's bits per pixel, 24 (the default) or 16.
# SKARV_SCREENSHOT_TRENDS=0: without the trends window (a build too slow for it).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
client="${1:-$root/build/skarv-client}"
grab="${2:-$root/build/tests/tools/skarv-screen-grab}"
output="${3:-$root/build/client-screenshot.png}"
depth="${4:-24}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

trends=--trends
if [ "${SKARV_SCREENSHOT_TRENDS:-1}" = 0 ]; then
  trends=""
fi

export CLIENT="$client" GRAB="$grab" OUTPUT="$output" WORK="$work" TRENDS="$trends"
xvfb-run -a -s "-screen 0 2400x1200x$depth" bash -c '
  export QT_QPA_PLATFORM=xcb  # the X display, even where tests draw off-screen
  cd "$WORK"
  "$CLIENT" --simulate $TRENDS > client.log 2>&1 &
  pid=$!
  # Wait for drawn scans (the stream starts about 1.3 s after the sensor is opened).
  for _ in $(seq 1 100); do
    if [ "$(grep -c "dataLength" client.log || true)" -ge 5 ]; then break; fi
    sleep 0.2
  done
  sleep 1
  # A slow build (under a sanitizer) draws later: the windows get up to four
  # more looks, two seconds apart, before the check fails.
  for _ in 1 2 3 4 5; do
    status=0
    "$GRAB" "$OUTPUT" $TRENDS || status=$?
    if [ "$status" -eq 0 ]; then break; fi
    sleep 2
  done
  kill -TERM "$pid"
  if ! wait "$pid"; then
    status=1
    # A sanitizer build ends with a failing status after a report: show it.
    echo "client ended with a failing status"
    grep -A30 -E "WARNING: |ERROR: " client.log | head -80 || true
  fi
  grep -q "Thread Done. Clean up" client.log || { echo "client did not end in order"; tail -20 client.log; exit 1; }
  exit $status
'
echo "screenshot at $depth bits: $output"
