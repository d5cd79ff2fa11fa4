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
bench_compile outline_bench
bench_a0_scans a0-grey
bench_a0_page "$build/outline_bench"
if [ ! -s "$data/a0-page.tif" ]; then
  bench_magick_policy
  convert "$data/a0-page.pbm" -compress Group4 "$data/a0-page.tif"
fi

work="$build/work"
mkdir -p "$work/settings"
export LINEWEFT_CONFIG_DIR="$work/settings"
lineweft="$build/lineweft/lineweft"

# measure NAME COMMAND...: runs it once, keeps "seconds peak-KiB" in $work/NAME.
measure() {
  local name="$1"
  shift
  /usr/bin/time -f "%e %M" -o "$work/$name.time" "$@" >/dev/null 2>"$work/$name.log" || {
    echo "$name failed:" >&2
    tail -5 "$work/$name.log" >&2
    exit 1
  }
  read -r seconds peak <"$work/$name.time"
  printf '%-28s %8.2f s %10.1f MB\n' "$name" "$seconds" "$(echo "$peak / 1024" | bc -l)"
  eval "${name//-/_}_s=$seconds"
}

echo "A0 page at 400 dpi, file to DXF:"
measure lineweft-outline "$lineweft" trace "$data/a0-page.tif" -o "$work/outline.dxf" --method outline
measure potrace potrace -b dxf "$data/a0-page.pbm" -o "$work/potrace.dxf"
measure lineweft-centerline "$lineweft" trace "$data/a0-page.tif" -o "$work/centerline.dxf" --method centerline
printf 'outline / potrace:        %.2f (goal: at most 0.5)\n' "$(echo "$lineweft_outline_s / $potrace_s" | bc -l)"
printf 'centre line / outline:    %.2f\n' "$(echo "$lineweft_centerline_s / $lineweft_outline_s" | bc -l)"
