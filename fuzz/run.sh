#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz and runs each from the
# seed corpus:
#   fuzz/run.sh [SECONDS]     each target for SECONDS (default 30), as CI does
#   fuzz/run.sh --runs COUNT  each target for COUNT executions: a long campaign
# Exits non-zero when a target finds a crash, an overrun or undefined
# behaviour; the input that did it is left in build-fuzz/fuzz/ as crash-* (or
# leak-*, timeout-*). New inputs collect in build-fuzz/fuzz/work/, so a later
# campaign goes on from them.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = "--runs" ]; then
  limit="-runs=${2:?--runs needs a count}"
else
  limit="-max_total_time=${1:-30}"
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELTRANE_FUZZ=ON -DVELTRANE_WERROR=ON -DVELTRANE_GUI=OFF -DVELTRANE_TESTS=OFF -DVELTRANE_BENCH=OFF
cmake --build build-fuzz -j"$(nproc)" --target fuzz_chunk fuzz_container

cd build-fuzz/fuzz
# Three chunks reach every rule of the layout (a whole chunk, a short last
# one, what may follow it); longer inputs only slow the search.
for target in chunk:4100 container:12100; do
  name=${target%%:*}
  mkdir -p "work/$name"
  echo "Fuzzing $name ($limit)"
  "./fuzz_$name" "$limit" -max_len="${target##*:}" -timeout=10 \
    -print_final_stats=1 "work/$name" "corpus/$name"
done
