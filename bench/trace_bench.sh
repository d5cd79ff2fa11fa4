#!/usr/bin/env bash
# trace_bench.sh [RUNS]: file to DXF with the default options (an empty
# settings folder), each goal measured in one run and printed as a ratio:
#
# - the synthetic A0 scan at 400 dpi (13000 x 18000, 24-bit BMP from
#   make_scan) by centre line and by outline, on 4 cores (taskset -c 0-3) and
#   on one (--threads 1): wall time, and peak memory against the raster's
#   own size;
# - the one-bit A0 page (potrace's PBM; Lineweft reads the Group 4 TIFF made
#   from it, the same pixels), single-threaded, against `potrace -b dxf`:
#   outline and centre line with post-processing, and the peak memory less
#   the entities' own (the peak of reading the traced file back) against the
#   one-bit raster's size;
# - a small drawing (2000 x 1500, the top left of the one-bit page) as a
#   whole process against potrace.
#
# RUNS (default 3) runs of each, median time, largest peak. Figures are wall
# times: on a loaded machine compare the ratios of one run only.
set -euo pipefail
runs="${1:-3}"
source "$(dirname "$0")/bench_common.sh"
bench_init trace-bench

bench_build_lineweft
cmake --build "$build/lineweft" --target lineweft >/dev/null
bench_a0_scans a0-rgb a0-grey
bench_a0_tif

work="$build/work"
mkdir -p "$work/settings"
export LINEWEFT_CONFIG_DIR="$work/settings"
lineweft="$build/lineweft/lineweft"
small="$work/small.pbm"
if [ ! -s "$small" ]; then
  bench_magick_policy
  convert "$data/a0-page.pbm" -crop 2000x1500+0+0 +repage "$small"
  convert "$small" -compress Group4 "$work/small.tif"
fi

# peak_mb NAME: the peak memory of the last bench_measure NAME, in MB.
peak_mb() { awk '{ print $2 / 1024 }' "$work/$1.time"; }
mb() { echo "$(stat -c %s "$1") / 1048576" | bc -l; }
goal() { # LABEL VALUE LIMIT
  printf '%-46s %6.2f  (goal <= %s) %s\n' "$1" "$2" "$3" "$(echo "$2 <= $3" | bc -l | sed 's/1/met/;s/0/NOT MET/')"
}

echo "cores usable: $(nproc), this bench uses cpus 0-3 for 4 cores"
echo
echo "A0 24-bit scan to DXF:"
raster_mb=$(mb "$data/a0-rgb.bmp")
for method in centerline outline; do
  bench_measure "$method-4" taskset -c 0-3 "$lineweft" trace "$data/a0-rgb.bmp" -o "$work/$method-4.dxf" --method "$method" --threads 4
  peak4=$(peak_mb "$method-4")
  bench_measure "$method-1" taskset -c 0 "$lineweft" trace "$data/a0-rgb.bmp" -o "$work/$method-1.dxf" --method "$method" --threads 1
  cmp -s "$work/$method-4.dxf" "$work/$method-1.dxf" || { echo "$method: 4 threads and 1 thread differ" >&2; exit 1; }
  eval "peak_$method=$peak4"
done
goal "centre line, 4 cores, wall s" "$centerline_4_s" 3
goal "outline, 4 cores, wall s" "$outline_4_s" 2.5
goal "centre line peak / 24-bit raster" "$(echo "$peak_centerline / $raster_mb" | bc -l)" 1.3
goal "outline peak / 24-bit raster" "$(echo "$peak_outline / $raster_mb" | bc -l)" 1.3
printf '%-46s %6.2f s and %.2f s (the issue measured 6.8 s and 5.3 s on one core before)\n' \
  "one core: centre line and outline" "$centerline_1_s" "$outline_1_s"

echo
echo "One-bit A0 page to DXF, single-threaded, against potrace:"
bench_measure potrace potrace -b dxf "$data/a0-page.pbm" -o "$work/potrace.dxf"
bench_measure bit-outline "$lineweft" trace "$data/a0-page.tif" -o "$work/bit-outline.dxf" --method outline --threads 1
bench_measure bit-centerline "$lineweft" trace "$data/a0-page.tif" -o "$work/bit-centerline.dxf" --method centerline --threads 1
goal "outline / potrace" "$(echo "$bit_outline_s / $potrace_s" | bc -l)" 0.3
goal "centre line with post-processing / potrace" "$(echo "$bit_centerline_s / $potrace_s" | bc -l)" 0.5
bit_mb=$(mb "$data/a0-page.pbm")
# The entities' own memory: the peak of reading the traced file back, less
# that of reading an empty drawing (the process itself).
printf '0\nSECTION\n2\nENTITIES\n0\nENDSEC\n0\nEOF\n' >"$work/empty.dxf"
bench_measure read-empty "$lineweft" info "$work/empty.dxf"
for method in outline centerline; do
  bench_measure "read-$method" "$lineweft" info "$work/bit-$method.dxf"
  entities=$(echo "$(peak_mb "read-$method") - $(peak_mb read-empty)" | bc -l)
  printf '%-46s %6.0f MB  (entities %.0f MB, one-bit raster %.0f MB)\n' "$method peak, one-bit input" \
    "$(peak_mb "bit-$method")" "$entities" "$bit_mb"
  goal "$method (peak - entities) / one-bit raster" "$(echo "($(peak_mb "bit-$method") - $entities) / $bit_mb" | bc -l)" 4
done

echo
echo "Small drawing (2000 x 1500) as a whole process:"
bench_measure small-potrace potrace -b dxf "$small" -o "$work/small-potrace.dxf"
bench_measure small-outline "$lineweft" trace "$work/small.tif" -o "$work/small-outline.dxf" --method outline
goal "outline / potrace" "$(echo "$small_outline_s / $small_potrace_s" | bc -l)" 1
