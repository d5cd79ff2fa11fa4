#!/usr/bin/env bash
# filters_bench.sh [RUNS] [full]: the grey and colour medians and the
# convolution templates on the synthetic A0 page at 400 dpi (13000 x 18000),
# with Lineweft, OpenCV (medianBlur, filter2D) and ImageMagick (-statistic
# Median, -morphology Correlate), each on one thread, printing the ratios
# against the goals. "full" adds ImageMagick's 5 x 5 colour median, which
# takes minutes.
#
# Needs libopencv-dev (for this bench only; Lineweft never links OpenCV) and
# ImageMagick. Builds a Release lw_core in build/filters-bench/lineweft and
# the bench program beside it; the scans are shared with the other benches.
set -euo pipefail
runs="${1:-3}"
full="${2:-}"
source "$(dirname "$0")/bench_common.sh"
bench_init filters-bench

if [ ! -f /usr/include/opencv4/opencv2/imgproc.hpp ]; then
  echo "filters_bench.sh: needs OpenCV: apt-get install libopencv-dev" >&2
  exit 1
fi

bench_build_lineweft
bench_compile filters_bench -isystem /usr/include/opencv4 -lopencv_imgcodecs -lopencv_imgproc -lopencv_core
bench_a0_scans a0-rgb a0-grey
bench_magick_policy
"$build/filters_bench" compare "$data/a0-grey.bmp" "$data/a0-rgb.bmp" "$runs" $full
