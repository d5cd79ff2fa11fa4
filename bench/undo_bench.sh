#!/usr/bin/env bash
# undo_bench.sh [SIZE...]: Undo and Redo of Delete All on drawings of growing
# size (default 5000, 10000 and 20000 entities), each timed against one redraw
# of the drawing; the ratio columns should stay flat as the drawing grows.
#
# Builds a Release lw_core in build/undo-bench/lineweft and the bench program
# beside it.
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
bench_init undo-bench
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-3}"
bench_build_lineweft
bench_compile undo_bench
"$build/undo_bench" "$@"
