#!/usr/bin/env bash
# outline_bench.sh [RUNS]: traces the outlines of the synthetic A0 page at
# 400 dpi (13000 x 18000) made one-bit, with Lineweft and with potrace on the
# same PBM file, and prints the time ratio and peak memory.
#
# Builds a Release lw_core in build/outline-bench/lineweft and the bench
# program beside it. The grey scan comes from bench/make_scan (shared with the
# threshold bench in build/bench/data; LW_BENCH_DATA overrides the folder).
set -euo pipefail
runs="${1:-3}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/outline-bench"
data="${LW_BENCH_DATA:-$root/build/bench/data}"

cmake -S "$root" -B "$build/lineweft" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/lineweft" --target lw_core lw_platform >/dev/null
c++ -std=c++20 -O2 -DNDEBUG -Wall -Wextra -I"$root/src" "$root/bench/outline_bench.cpp" \
  "$build/lineweft/src/liblw_core.a" "$build/lineweft/src/liblw_platform.a" -lfreeimage -lz -pthread \
  -o "$build/outline_bench"

mkdir -p "$data"
if [ ! -s "$data/a0-grey.bmp" ]; then
  echo "generating the A0 scans in $data ..."
  cmake -S "$root/bench" -B "$build/programs" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DLW_BUILD_DIR="$build/lineweft" >/dev/null
  cmake --build "$build/programs" --target make_scan >/dev/null
  "$build/programs/make_scan" "$data/a0-rgb.bmp" "$data/a0-grey.bmp"
fi
if [ ! -s "$data/a0-page.pbm" ]; then
  "$build/outline_bench" make "$data/a0-grey.bmp" "$data/a0-page.pbm"
fi
"$build/outline_bench" compare "$data/a0-page.pbm" "$runs"
