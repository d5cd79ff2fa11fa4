#!/usr/bin/env bash
# resample_bench.sh [RUNS]: Lanczos3 resampling on one thread, Lineweft
# against ImageMagick and OpenCV, on the synthetic A0 scan at 400 dpi
# (13000 x 18000) shrunk to 300 dpi in grey and in colour, and on a quarter of
# it (6500 x 9000, grey) enlarged one and a half times.
#
# Builds a Release lw_core in build/resample-bench/lineweft and the bench
# program beside it (OpenCV headers and libraries from libopencv-dev). The
# scans come from bench/make_scan, kept in build/bench/data with the other
# benches (LW_BENCH_DATA overrides the folder). IMAGEMAGICK_CONVERT names
# another convert program.
set -euo pipefail
runs="${1:-3}"
source "$(dirname "$0")/bench_common.sh"
bench_init resample-bench

bench_build_lineweft
bench_compile resample_bench -isystem /usr/include/opencv4 -lopencv_imgproc -lopencv_core

mkdir -p "$build/work"
bench_a0_scans a0-rgb a0-grey
if [ ! -s "$data/a2-grey.bmp" ]; then
  bench_make_scan "$build/work/a2-rgb.bmp" "$data/a2-grey.bmp" 6500 9000
  rm -f "$build/work/a2-rgb.bmp"
fi
bench_magick_policy

"$build/resample_bench" compare "$data/a0-grey.bmp" 9750 13500 "$runs" "$build/work"
echo
"$build/resample_bench" compare "$data/a0-rgb.bmp" 9750 13500 "$runs" "$build/work"
echo
"$build/resample_bench" compare "$data/a2-grey.bmp" 9750 13500 "$runs" "$build/work"
rm -f "$build/work/"*.bmp
