#!/usr/bin/env bash
# Diagnostics script benchmark, beside bench/report.sh (which times the whole window):
#
#  1. the bare script on a huge home folder (tens of thousands of product files, a crowded cache
#     folder sorting before the logs, 4 MB logs with secrets in them), this working copy's script
#     against the script of a baseline revision (default: main), alternately, warm, in the same run.
#     Target: at most 1.25x the baseline's median.
#  2. redaction alone of a 2 MB log (ordinary lines with secrets spliced in, then hostile lines:
#     one 2 MB line without a line feed, long runs of key characters, thousands of quotes and
#     separators). Target: each at most 1.5 s per MB on this machine, so a report's five 256 KiB
#     log tails cost a bounded time.
#
#   bench/report-script.sh [runs] [baseline revision]       (default 5 runs of each, main)
#
# Exit status 1 when a target is missed.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
baseline=${2:-main}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Both scripts as files of their own, so that neither changes while the other runs.
mkdir -p "$work/baseline" "$work/current/KeyloftTroubleshooting"
git archive "$baseline" KeyloftTroubleshooting/Scripts | tar -x -C "$work/baseline"
cp -R KeyloftTroubleshooting/Scripts "$work/current/KeyloftTroubleshooting/"

home="$work/home"
ruby bench/report-script-home.rb "$home"

# One run of a script on the huge home: prints its milliseconds.
measure() {
  local script=$1 start end
  rm -rf "$home/.local/share/Keyloft 4"
  start=$(date +%s%N)
  env -i PATH="$PATH" HOME="$home" LANG=C.UTF-8 \
    ruby "$script" "BUNDLE_PATH=$work/bundle" >/dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }

base_script="$work/baseline/KeyloftTroubleshooting/Scripts/vantletools.rb"
current_script="$work/current/KeyloftTroubleshooting/Scripts/vantletools.rb"
measure "$base_script" >/dev/null
measure "$current_script" >/dev/null
: >"$work/base.ms"
: >"$work/current.ms"
for _ in $(seq "$runs"); do
  measure "$base_script" >>"$work/base.ms"
  measure "$current_script" >>"$work/current.ms"
done

status=0
base_ms=$(median <"$work/base.ms")
current_ms=$(median <"$work/current.ms")
awk -v bm="$base_ms" -v cm="$current_ms" -v n="$runs" -v rev="$baseline" \
  -v all_b="$(tr '\n' ' ' <"$work/base.ms")" -v all_c="$(tr '\n' ' ' <"$work/current.ms")" 'BEGIN {
  r = cm / bm
  printf "huge home, %d runs of each, alternating, after one warm-up each (medians)\n", n
  printf "script of %-10s %6.0f ms   (runs: %s)\n", rev ":", bm, all_b
  printf "this script:        %6.0f ms   (runs: %s)\n", cm, all_c
  printf "ratio %.2f (target <= 1.25) %s\n", r, (r <= 1.25 ? "ok" : "MISSED")
  exit (r <= 1.25) ? 0 : 1
}' || status=1

ruby bench/report-script-redaction.rb "$current_script" || status=1
exit $status
