#!/usr/bin/env bash
# render_bench.sh [RUNS]: the synthetic A0 page at 400 dpi (13000 x 18000)
# made one-bit, drawn at 1600 x 1200 and written as PNG from the same Group 4
# TIFF: `lineweft render` (loading, the drawing device, the PNG) against
# ImageMagick's `convert -resize`. Prints the median wall times, peak memory
# and the time ratio.
#
# convert keeps the page's shape (867 x 1200) and filters every pixel;
# lineweft draws the page into the middle of a 1600 x 1200 picture.
# IMAGEMAGICK_CONVERT names another convert program.
set -euo pipefail
runs="${1:-3}"
source "$(dirname "$0")/bench_common.sh"
bench_init render-bench

bench_build_lineweft
cmake --build "$build/lineweft" --target lineweft >/dev/null
bench_a0_tif
bench_magick_policy

work="$build/work"
mkdir -p "$work/settings"
export LINEWEFT_CONFIG_DIR="$work/settings"

echo "A0 page at 400 dpi, one-bit TIFF to a 1600 x 1200 PNG ($runs runs, medians):"
bench_measure lineweft-render "$build/lineweft/lineweft" render "$data/a0-page.tif" -o "$work/lineweft.png" \
  --size 1600x1200
bench_measure convert-resize "${IMAGEMAGICK_CONVERT:-convert}" "$data/a0-page.tif" -resize 1600x1200 \
  "$work/convert.png"
bench_ratio "render / convert:" "$lineweft_render_s" "$convert_resize_s"
