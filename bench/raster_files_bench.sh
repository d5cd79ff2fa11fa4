#!/usr/bin/env bash
# raster_files_bench.sh: what opening hostile or huge raster files costs.
# Prints the time to open a TIFF of 6000 pages page by page, and the peak
# memory of `lineweft info` on a 30 KB TIFF declaring 65,536 x 65,536 tiles
# (4.1 GB before the tile check; refused now) and on a 100,000 x 100,000
# one-bit Group 4 page (2.4 GB before; its header is printed without decoding
# it, bound 300 MB), on a 30,000 x 30,000 8-bit grey LZW page and a 20,000 x
# 20,000 RGB LZW one (decoded whole before; now their threshold is counted
# strip by strip, bound 300 MB) and on a 30,000 x 30,000 grey JPEG page, which
# cannot be counted that way and has its threshold left out.
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
bench_init raster-files-bench

bench_build_lineweft
cmake --build "$build/lineweft" --target lineweft >/dev/null
bench_compile raster_files_bench

work="$build/work"
mkdir -p "$work/settings" "$data"
export LINEWEFT_CONFIG_DIR="$work/settings"

"$build/raster_files_bench" walk 6000 "$work"

"$build/raster_files_bench" tile "$work/tile.tif"
[ -s "$data/g4-100k.tif" ] || "$build/raster_files_bench" g4 "$data/g4-100k.tif"
for kind in grey rgb jpeg; do
  [ -s "$data/$kind-large.tif" ] || "$build/raster_files_bench" "$kind" "$data/$kind-large.tif"
done

# info's peak memory; the tile file is refused, so its status is not checked.
peak() {
  /usr/bin/time -f "%e %M" -o "$work/$1.time" "$build/lineweft/lineweft" info "$2" >"$work/$1.log" 2>&1 || true
  # time puts "Command exited with non-zero status" above the figures.
  read -r seconds kb < <(tail -n 1 "$work/$1.time")
  printf '%-34s %7.2f s %9.1f MB   %s\n' "$1" "$seconds" "$(echo "$kb / 1024" | bc -l)" \
    "$(grep -m1 -e 'threshold' -e 'cannot read' "$work/$1.log" | cut -c1-70)"
}
echo "lineweft info, wall time and peak memory:"
peak "65536-pixel tiles on 200 x 150" "$work/tile.tif"
peak "100,000 x 100,000 one-bit G4" "$data/g4-100k.tif"
peak "30,000 x 30,000 8-bit grey LZW" "$data/grey-large.tif"
peak "20,000 x 20,000 RGB LZW" "$data/rgb-large.tif"
peak "30,000 x 30,000 8-bit grey JPEG" "$data/jpeg-large.tif"
rm -f "$work/tile.tif"
