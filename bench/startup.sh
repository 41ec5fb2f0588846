#!/usr/bin/env bash
# bench/startup.sh [runs]: first painted frame and peak memory (VmHWM) of the Release application
# against the smallest Qt Widgets window (bench/minimal_window.cpp), alternating under a private Xvfb.
# Prints the medians and their ratios against the targets (2x, 1.5x); exit status 1 when one is missed.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/lib/window-bench.sh
. bench/lib/window-bench.sh

runs=${1:-10}
use_release_bundle
make_work_folder

baseline="$work/minimal_window"
# shellcheck disable=SC2046
g++ -std=c++20 -O2 -fPIC -IKeyloftTroubleshooting bench/minimal_window.cpp -o "$baseline" $(pkg-config --cflags --libs Qt6Widgets)

start_private_xvfb 170 199

# One run: prints "<ms to first frame> <peak KiB>". A fresh HOME each time; the same environment for both.
measure() {
  local program=$1 home out="$work/out" pid start frame='' line peak
  home=$(mktemp -d "$work/home.XXXXXX")
  : >"$out"
  start=$(date +%s%N)
  env -i PATH="$PATH" HOME="$home" DISPLAY="$display" QT_QPA_PLATFORM=xcb KEYLOFT_REPORT_FIRST_FRAME=1 \
    XDG_RUNTIME_DIR="$home" "$program" >"$out" 2>/dev/null &
  pid=$!
  for _ in $(seq 1000); do
    line=$(grep -m1 '^first-frame ' "$out" || true)
    if [ -n "$line" ]; then frame=${line#first-frame }; break; fi
    sleep 0.01
  done
  # Let the first frame settle (late initialisation counts towards the peak), then read the peak.
  sleep 0.3
  peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [ -z "$frame" ]; then echo "no first frame from $program" >&2; exit 2; fi
  echo "$(( (frame - start) / 1000000 )) $peak"
}

measure "$baseline" >/dev/null
measure "$app" >/dev/null
for _ in $(seq "$runs"); do
  measure "$baseline" >>"$work/base"
  measure "$app" >>"$work/app"
done

awk -v bm="$(cut -d' ' -f1 "$work/base" | median)" -v am="$(cut -d' ' -f1 "$work/app" | median)" \
  -v bk="$(cut -d' ' -f2 "$work/base" | median)" -v ak="$(cut -d' ' -f2 "$work/app" | median)" -v n="$runs" 'BEGIN {
  tr = am / bm; mr = ak / bk
  printf "runs: %d of each, alternating, after one warm-up each (medians)\n", n
  printf "first frame:  baseline %6.1f ms   application %6.1f ms   ratio %.2f (target <= 2.00) %s\n", bm, am, tr, (tr <= 2.0 ? "ok" : "MISSED")
  printf "peak memory:  baseline %6.0f KiB  application %6.0f KiB  ratio %.2f (target <= 1.50) %s\n", bk, ak, mr, (mr <= 1.5 ? "ok" : "MISSED")
  exit (tr <= 2.0 && mr <= 1.5) ? 0 : 1
}'
