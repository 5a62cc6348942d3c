#!/usr/bin/env bash
# Builds the fuzz targets with clang into build-fuzz and runs each for
# SECONDS (default 30), starting from the seed corpus. Exits non-zero when a
# target finds a crash, an overrun or undefined behaviour; the input that did
# it is left in build-fuzz/fuzz/ as crash-* (or leak-*, timeout-*).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELTRANE_FUZZ=ON -DVELTRANE_GUI=OFF -DVELTRANE_TESTS=OFF
cmake --build build-fuzz -j"$(nproc)" --target fuzz_chunk fuzz_container

cd build-fuzz/fuzz
for target in chunk container; do
  # New inputs go to work/; the seeds stay as generated.
  mkdir -p "work/$target"
  echo "Fuzzing $target for ${seconds}s"
  "./fuzz_$target" -max_total_time="$seconds" -max_len=70000 -timeout=10 \
    -print_final_stats=1 "work/$target" "corpus/$target"
done
