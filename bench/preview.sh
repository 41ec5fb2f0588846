#!/usr/bin/env bash
# bench/preview.sh [runs]: under a private Xvfb (KEYLOFT_XVFB_DISPLAYS="FIRST LAST", default 230 259), with
# the Release bundle, warm, the medians of [runs] (default 7, after one warm-up) runs of: the time from Ctrl+I
# in the window to the preview's first frame for a 1 MB report lying in the report folder as the newest
# (target below 100 ms); and `keyloft-troubleshooting --report` against the bare diagnostics script in the
# same environment, alternately (target: at most 50 ms more). Exit status 1 when a target is missed.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=bench/lib/window-bench.sh
. bench/lib/window-bench.sh

runs=${1:-7}
use_release_bundle
make_work_folder
# shellcheck disable=SC2086
start_private_xvfb ${KEYLOFT_XVFB_DISPLAYS:-230 259}

big="$work/Keyloft 4 Diagnostics big.zip"
python3 - "$big" <<'EOF'
import json, random, sys, zipfile
random.seed(4)
words = 'sync vault item key folder agent request finished started failed retry cache index'.split()
def log(lines):
    return ''.join('2026-12-06 12:%02d:%02d %s %s %08x in %d ms\n' % (
        random.randrange(60), random.randrange(60), random.choice(['INFO', 'WARN', 'DEBUG']),
        ' '.join(random.choice(words) for _ in range(6)), random.getrandbits(32), random.randrange(900))
        for _ in range(lines))
members = {'summary.txt': 'Keyloft 4 diagnostics report\n' + log(40)}
members.update({'logs/keyloft-%d.log' % n: log(11000) for n in range(5)})
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    for name, text in members.items():
        z.writestr(name, text)
    z.writestr('manifest.json', json.dumps({'files': [{'name': k, 'size': len(v)} for k, v in members.items()]}))
EOF

# Waits for the n-th line of the file $1 that starts with $2; prints its second word.
wait_line() {
  for _ in $(seq 6000); do
    grep "^$2 " "$1" | sed -n "$3{s/^[^ ]* \([^ ]*\).*/\1/p;q}" | grep . && return 0
    sleep 0.01
  done
  echo "no '$2' line from the tool" >&2
  exit 2
}

# One preview run: a report made in the window, the big report put in its place as the newest, Ctrl+I
# typed; prints the milliseconds from the key to the preview's first frame.
measure_preview() {
  local home start folder
  home=$(mktemp -d "$work/home.XXXXXX")
  start_tool "$home" "$work/app.out" KEYLOFT_REPORT_MAIL_BUTTON=1 KEYLOFT_REPORT_FIRST_FRAME=1
  point_at_action_button
  DISPLAY="$display" xdotool click 1
  wait_line "$work/app.out" mail-button 1 >/dev/null
  folder="$home/.local/share/Keyloft 4/Diagnostics"
  cp "$big" "$folder/" && touch -d '+10 seconds' "$folder/$(basename "$big")"
  start=$(date +%s%N)
  DISPLAY="$display" xdotool windowfocus --sync "$window" key ctrl+i
  echo $((($(wait_line "$work/app.out" first-frame 2) - start) / 1000000))
  stop_tool
}

# One run of the bare script or (tool) of the tool's --report: prints its milliseconds.
measure_run() {
  local home start
  home=$(mktemp -d "$work/home.XXXXXX")
  start=$(date +%s%N)
  if [ "$1" = script ]; then set -- ruby "$script" "BUNDLE_PATH=$bundle"; else set -- "$app" --report; fi
  in_user_env "$home" "$@" >/dev/null
  echo $((($(date +%s%N) - start) / 1000000))
}

for kind in preview script tool; do : >"$work/$kind"; done
for n in $(seq 0 "$runs"); do # run 0 is the warm-up
  for kind in preview script tool; do
    if [ "$kind" = preview ]; then ms=$(measure_preview); else ms=$(measure_run "$kind"); fi
    [ "$n" = 0 ] || echo "$ms" >>"$work/$kind"
  done
done

preview_ms=$(median <"$work/preview") script_ms=$(median <"$work/script") tool_ms=$(median <"$work/tool")
echo "runs: $runs of each, after one warm-up each (medians)"
for kind in preview script tool; do echo "  $kind runs (ms): $(tr '\n' ' ' <"$work/$kind")"; done
awk -v pm="$preview_ms" -v sm="$script_ms" -v tm="$tool_ms" -v kb=$(($(stat -c %s "$big") / 1024)) 'BEGIN {
  printf "Ctrl+I to the preview of a %d KB report: %.0f ms (target < 100) %s\n", kb, pm, (pm < 100 ? "ok" : "MISSED")
  printf "bare script: %.0f ms, keyloft-troubleshooting --report: %.0f ms\n", sm, tm
  printf "--report adds %.0f ms (target <= 50) %s\n", tm - sm, (tm - sm <= 50 ? "ok" : "MISSED")
  exit (pm < 100 && tm - sm <= 50) ? 0 : 1
}'
