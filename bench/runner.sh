#!/usr/bin/env bash
# Builds the task runner's benchmark in Release and runs it; it prints its ratios as counters:
#   whole/limit, collect/limit   share of the pipe's limit reached (1.0 = as fast as head | cat)
#   python_s/whole_s             how many times faster than Python's subprocess.run (>1 = faster)
#   peak/budget                  peak memory over (collected bytes + their text) * 1.10 (<=1 = within)
#   runner/bare                  one runScriptWaitForExit("true") over a bare posix_spawn + waitpid
# Usage: bench/runner.sh [benchmark options, e.g. --benchmark_filter=Spawn]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKEYLOFT_BUILD_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build/bench --target bench_runner -j2 >/dev/null
exec build/bench/bench/bench_runner "$@"
