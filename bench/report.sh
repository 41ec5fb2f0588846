#!/usr/bin/env bash
# Report benchmark: time from the press of the action button to the enabled mail button, against the
# bare diagnostics script run straight from a shell in the same environment, alternately, under a
# private Xvfb, warm.
#
#   bench/report.sh [runs]          (default 7 runs of each, after one warm-up run of each)
#
# Uses the Release bundle in build/release (built here when missing). Each run gets a fresh HOME, so
# both sides collect the same (small) home folder. The application's time runs from just before
# xdotool clicks the button to the moment the button is enabled as the mail button (the tool prints
# that moment when KEYLOFT_REPORT_MAIL_BUTTON is set). Prints medians, the tool's overhead and the
# ratio with its target: at most 1.5x the bare script. Exit status 1 when the target is missed.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib/private-xvfb.sh
. scripts/lib/private-xvfb.sh

runs=${1:-7}
bundle=$PWD/build/release/keyloft-troubleshooting
app=$bundle/Contents/bin/keyloft-troubleshooting
script=$bundle/Contents/Resources/Scripts/vantletools.rb
if [ ! -x "$app" ] || [ ! -f "$script" ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build build/release -j2 --target keyloft-troubleshooting >/dev/null
fi

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_private_xvfb 200 229

# Both sides run in the same environment; only HOME changes from run to run.

# One run of the tool: prints the milliseconds from the click to the enabled mail button.
measure_app() {
  local home out window geometry width height start line ready
  home=$(mktemp -d "$work/home.XXXXXX")
  out="$work/app.out"
  : >"$out"
  env -i PATH="$PATH" HOME="$home" DISPLAY="$display" XDG_RUNTIME_DIR="$home" LANG=C.UTF-8 \
    QT_QPA_PLATFORM=xcb KEYLOFT_REPORT_MAIL_BUTTON=1 "$app" >"$out" 2>/dev/null &
  app_pid=$!
  window=$(DISPLAY="$display" timeout 60 xdotool search --sync --onlyvisible --pid "$app_pid" | head -n1)
  if [ -z "$window" ]; then echo "the tool's window did not appear" >&2; exit 2; fi
  geometry=$(DISPLAY="$display" xdotool getwindowgeometry --shell "$window")
  width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
  height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
  # The button sits in the bottom-right corner, inside the layout's margins (20 right, 16 below).
  DISPLAY="$display" xdotool mousemove --window "$window" $((width - 32)) $((height - 26))
  start=$(date +%s%N)
  DISPLAY="$display" xdotool click 1
  ready=
  for _ in $(seq 6000); do
    line=$(grep -m1 '^mail-button ' "$out" || true)
    if [ -n "$line" ]; then ready=$(cut -d' ' -f2 <<<"$line"); break; fi
    sleep 0.01
  done
  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=
  if [ -z "$ready" ]; then echo "no mail button from the tool" >&2; exit 2; fi
  if [ "$(find "$home/.local/share/Keyloft 4/Diagnostics" -name '*.zip' | wc -l)" != 1 ]; then
    echo "the tool left no report" >&2; exit 2
  fi
  echo $(((ready - start) / 1000000))
}

# One run of the bare script: prints its milliseconds.
measure_script() {
  local home start end
  home=$(mktemp -d "$work/home.XXXXXX")
  start=$(date +%s%N)
  env -i PATH="$PATH" HOME="$home" DISPLAY="$display" XDG_RUNTIME_DIR="$home" LANG=C.UTF-8 \
    ruby "$script" "BUNDLE_PATH=$bundle" >/dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

measure_script >/dev/null
measure_app >/dev/null
: >"$work/base"
: >"$work/app"
for _ in $(seq "$runs"); do
  measure_script >>"$work/base"
  measure_app >>"$work/app"
done

base_ms=$(median <"$work/base")
app_ms=$(median <"$work/app")
awk -v bm="$base_ms" -v am="$app_ms" -v n="$runs" -v all_b="$(tr '\n' ' ' <"$work/base")" \
  -v all_a="$(tr '\n' ' ' <"$work/app")" 'BEGIN {
  r = am / bm
  printf "runs: %d of each, alternating, after one warm-up each (medians)\n", n
  printf "bare script:                     %6.0f ms   (runs: %s)\n", bm, all_b
  printf "press to enabled mail button:    %6.0f ms   (runs: %s)\n", am, all_a
  printf "tool overhead %.0f ms, ratio %.2f (target <= 1.50) %s\n", am - bm, r, (r <= 1.5 ? "ok" : "MISSED")
  exit (r <= 1.5) ? 0 : 1
}'
