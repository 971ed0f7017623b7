#!/usr/bin/env bash
# Runs every benchmark program of the build, each of which measures the
# library and its peer in the same run.  Results go to stdout; the figures we
# keep are copied into docs/BENCHMARKS.md with the machine they ran on.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
echo "machine: $(uname -m), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
for b in "$build_dir"/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b") =="
  "$b" --benchmark_min_time=0.5
done
for s in bench/*.sh; do
  [ -x "$s" ] || continue
  echo "== $(basename "$s") =="
  "$s" "$build_dir"
done
