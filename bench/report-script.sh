#!/usr/bin/env bash
# Diagnostics script benchmark, beside bench/report.sh (which times the whole window):
#  1. the bare script on a huge home (bench/report-script-home.rb), this working copy's script against
#     the script of a baseline revision, alternately, warm, in the same run. Target: median CPU time
#     (user and system, the script's helpers included) at most 1.25x the baseline's; wall clock printed.
#  2. redaction alone of 2 MB logs, ordinary and hostile (bench/report-script-redaction.rb).
#
#   bench/report-script.sh [runs] [baseline revision]       (default 7 runs of each, main)
#
# Exit status 1 when a target is missed.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-7} baseline=${2:-main} work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Both scripts as files of their own, so that neither changes while the other runs.
mkdir -p "$work/baseline" "$work/current/KeyloftTroubleshooting"
git archive "$baseline" KeyloftTroubleshooting/Scripts | tar -x -C "$work/baseline"
cp -R KeyloftTroubleshooting/Scripts "$work/current/KeyloftTroubleshooting/"

home="$work/home"
ruby bench/report-script-home.rb "$home"

# One run of a script on the huge home: prints its wall-clock and CPU milliseconds.
measure() {
  local script=$1 times
  rm -rf "$home/.local/share/Keyloft 4"
  times=$({ TIMEFORMAT='%R %U %S'; time env -i PATH="$PATH" HOME="$home" LANG=C.UTF-8 \
    ruby "$script" "BUNDLE_PATH=$work/bundle" >/dev/null; } 2>&1)
  awk '{ printf "%d %d\n", $1 * 1000, ($2 + $3) * 1000 }' <<<"$times"
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

base_script="$work/baseline/KeyloftTroubleshooting/Scripts/vantletools.rb"
current_script="$work/current/KeyloftTroubleshooting/Scripts/vantletools.rb"
for _ in $(seq 0 "$runs"); do # the first run of each warms up and is dropped
  measure "$base_script" >>"$work/base.ms"
  measure "$current_script" >>"$work/current.ms"
done
sed -i 1d "$work/base.ms" "$work/current.ms"

status=0
column() { cut -d' ' -f"$1" <"$2"; }
awk -v n="$runs" -v rev="$baseline" \
  -v bw="$(column 1 "$work/base.ms" | median)" -v bc="$(column 2 "$work/base.ms" | median)" \
  -v cw="$(column 1 "$work/current.ms" | median)" -v cc="$(column 2 "$work/current.ms" | median)" \
  -v all_b="$(column 2 "$work/base.ms" | tr '\n' ' ')" -v all_c="$(column 2 "$work/current.ms" | tr '\n' ' ')" 'BEGIN {
  r = cc / bc
  printf "huge home, %d runs of each, alternating, after one warm-up each (medians)\n", n
  printf "script of %-10s %6.0f ms CPU, %6.0f ms wall   (CPU runs: %s)\n", rev ":", bc, bw, all_b
  printf "this script:        %6.0f ms CPU, %6.0f ms wall   (CPU runs: %s)\n", cc, cw, all_c
  printf "CPU ratio %.2f (target <= 1.25) %s; wall-clock ratio %.2f\n", r, (r <= 1.25 ? "ok" : "MISSED"), cw / bw
  exit (r <= 1.25) ? 0 : 1
}' || status=1

ruby bench/report-script-redaction.rb "$current_script" || status=1
exit $status
