#!/usr/bin/env bash
# postprocess_bench.sh [PARTS]: the post-processing chain on the centre lines
# of the synthetic A0 page at 400 dpi (13000 x 18000) made one-bit, step by
# step on the top 1/PARTS, 2/PARTS, ... of the page (default 4), with the
# time per segment of each step, so that growth faster than n log n shows.
#
# Builds a Release lw_core in build/postprocess-bench/lineweft and the bench
# program beside it. The one-bit page comes from the outline bench's data
# (build/bench/data; LW_BENCH_DATA overrides the folder): run
# bench/outline_bench.sh once first when a0-page.pbm is missing.
set -euo pipefail
parts="${1:-4}"
source "$(dirname "$0")/bench_common.sh"
bench_init postprocess-bench

if [ ! -s "$data/a0-page.pbm" ]; then
  echo "no $data/a0-page.pbm: run bench/outline_bench.sh first" >&2
  exit 1
fi
bench_build_lineweft
bench_compile postprocess_bench
"$build/postprocess_bench" "$data/a0-page.pbm" "$parts"
