#!/usr/bin/env bash
# Report benchmark: time from the press of the action button to the enabled mail button (the tool prints
# that moment when KEYLOFT_REPORT_MAIL_BUTTON is set; xdotool clicks), against the bare diagnostics script
# run from a shell in the same environment, alternately, under a private Xvfb, warm, each run with a fresh
# HOME. Target: at most 1.5x the bare script. Uses the Release bundle in build/release (built when
# missing); KEYLOFT_XVFB_DISPLAYS="FIRST LAST" chooses the X displays (default 200 229).
#
#   bench/report.sh [runs]          (default 7 runs of each, after one warm-up run of each)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/lib/window-bench.sh
. bench/lib/window-bench.sh

runs=${1:-7}
use_release_bundle
make_work_folder
# shellcheck disable=SC2086
start_private_xvfb ${KEYLOFT_XVFB_DISPLAYS:-200 229}

# One run of the tool: prints the milliseconds from the click to the enabled mail button.
measure_app() {
  local home out start ready
  home=$(mktemp -d "$work/home.XXXXXX") out=$work/app.out
  : >"$out"
  start_tool "$home" "$out" KEYLOFT_REPORT_MAIL_BUTTON=1
  point_at_action_button
  start=$(date +%s%N)
  DISPLAY="$display" xdotool click 1
  ready=
  for _ in $(seq 6000); do
    ready=$(sed -n 's/^mail-button \([0-9]*\).*/\1/p' "$out" | head -n1)
    [ -n "$ready" ] && break
    sleep 0.01
  done
  stop_tool
  if [ -z "$ready" ]; then echo "no mail button from the tool" >&2; exit 2; fi
  if [ "$(find "$home/.local/share/Keyloft 4/Diagnostics" -name '*.zip' | wc -l)" != 1 ]; then
    echo "the tool left no report" >&2; exit 2
  fi
  echo $(((ready - start) / 1000000))
}

# One run of the bare script: prints its milliseconds.
measure_script() {
  local home start
  home=$(mktemp -d "$work/home.XXXXXX") start=$(date +%s%N)
  in_user_env "$home" ruby "$script" "BUNDLE_PATH=$bundle" >/dev/null
  echo $((($(date +%s%N) - start) / 1000000))
}

for _ in $(seq 0 "$runs"); do # the first run of each warms up and is dropped
  measure_script >>"$work/base"
  measure_app >>"$work/app"
done
sed -i 1d "$work/base" "$work/app"

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
