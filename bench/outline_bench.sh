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
source "$(dirname "$0")/bench_common.sh"
bench_init outline-bench

bench_build_lineweft
bench_compile outline_bench
bench_a0_scans a0-grey
bench_a0_page "$build/outline_bench"
"$build/outline_bench" compare "$data/a0-page.pbm" "$runs"
