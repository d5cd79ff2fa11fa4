#!/usr/bin/env bash
# trace_bench.sh: the synthetic A0 page at 400 dpi (13000 x 18000), from file
# to DXF, each in one run: `lineweft trace --method outline` against
# `potrace -b dxf` on the same one-bit bitmap, and `lineweft trace --method
# centerline` (thinning and the post-processing chain). Prints wall times,
# peak memory and the time ratios.
#
# The one-bit page is the outline bench's PBM; Lineweft reads it as a Group 4
# TIFF made from it, so both trace the same pixels. The options are the
# defaults (an empty settings folder).
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
bench_init trace-bench

bench_build_lineweft
cmake --build "$build/lineweft" --target lineweft >/dev/null
bench_a0_tif

work="$build/work"
mkdir -p "$work/settings"
export LINEWEFT_CONFIG_DIR="$work/settings"
lineweft="$build/lineweft/lineweft"

echo "A0 page at 400 dpi, file to DXF:"
bench_measure lineweft-outline "$lineweft" trace "$data/a0-page.tif" -o "$work/outline.dxf" --method outline
bench_measure potrace potrace -b dxf "$data/a0-page.pbm" -o "$work/potrace.dxf"
bench_measure lineweft-centerline "$lineweft" trace "$data/a0-page.tif" -o "$work/centerline.dxf" --method centerline
bench_ratio "outline / potrace:" "$lineweft_outline_s" "$potrace_s" "(goal: at most 0.5)"
bench_ratio "centre line / outline:" "$lineweft_centerline_s" "$lineweft_outline_s"
