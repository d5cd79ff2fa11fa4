#!/usr/bin/env bash
# thinning_bench.sh [RUNS [ROWS]]: thins the synthetic A0 page at 400 dpi
# (13000 x 18000) made one-bit, with Lineweft and with OpenCV's Zhang-Suen
# thinning on the same PBM file, prints the time ratio and peak memory and
# checks that both give the same skeleton. RUNS defaults to 1: OpenCV scans
# the whole page in every pass (about 9 s each here) and the page's filled
# areas take some 670 passes, well over an hour. ROWS compares on the top
# band of the page only (2000 rows take some 280 passes).
#
# Needs libopencv-contrib-dev (for this bench only; Lineweft never links
# OpenCV). Builds a Release lw_core in build/thinning-bench/lineweft and the
# bench program beside it. The grey scan comes from bench/make_scan (shared
# with the other benches in build/bench/data; LW_BENCH_DATA overrides it).
set -euo pipefail
runs="${1:-1}"
rows="${2:-}"
source "$(dirname "$0")/bench_common.sh"
bench_init thinning-bench

if [ ! -f /usr/include/opencv4/opencv2/ximgproc.hpp ]; then
  echo "thinning_bench.sh: needs OpenCV's contrib modules: apt-get install libopencv-contrib-dev" >&2
  exit 1
fi

bench_build_lineweft
bench_compile thinning_bench -isystem /usr/include/opencv4 -lopencv_ximgproc -lopencv_imgproc -lopencv_core
bench_a0_scans a0-grey
bench_a0_page "$build/thinning_bench"
mkdir -p "$build/work"
page="$data/a0-page.pbm"
if [ -n "$rows" ]; then
  "$build/thinning_bench" band "$page" "$build/work/band.pbm" "$rows"
  page="$build/work/band.pbm"
fi
"$build/thinning_bench" compare "$page" "$runs" "$build/work"
