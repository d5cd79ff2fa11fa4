#!/usr/bin/env bash
# resample_bench.sh [RUNS]: Lanczos3 resampling on one thread, Lineweft
# against ImageMagick and OpenCV, on the synthetic A0 scan at 400 dpi
# (13000 x 18000) shrunk to 300 dpi in grey and in colour, and on a quarter of
# it (6500 x 9000, grey) enlarged one and a half times.
#
# Builds a Release lw_core in build/resample-bench/lineweft and the bench
# program beside it (OpenCV headers and libraries from libopencv-dev). The
# scans come from bench/make_scan, kept in build/bench/data with the other
# benches (LW_BENCH_DATA overrides the folder). IMAGEMAGICK_CONVERT names
# another convert program.
set -euo pipefail
runs="${1:-3}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/resample-bench"
data="${LW_BENCH_DATA:-$root/build/bench/data}"

cmake -S "$root" -B "$build/lineweft" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build/lineweft" --target lw_core lw_platform >/dev/null
c++ -std=c++20 -O2 -DNDEBUG -Wall -Wextra -I"$root/src" -isystem /usr/include/opencv4 "$root/bench/resample_bench.cpp" \
  "$build/lineweft/src/liblw_core.a" "$build/lineweft/src/liblw_platform.a" -lopencv_imgproc -lopencv_core \
  -lfreeimage -lz -pthread -o "$build/resample_bench"

mkdir -p "$data" "$data/magick" "$build/work"
make_scan() {
  cmake -S "$root/bench" -B "$build/programs" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DLW_BUILD_DIR="$build/lineweft" >/dev/null
  cmake --build "$build/programs" --target make_scan >/dev/null
  "$build/programs/make_scan" "$@"
}
if [ ! -s "$data/a0-rgb.bmp" ] || [ ! -s "$data/a0-grey.bmp" ]; then
  echo "generating the A0 scans in $data ..."
  make_scan "$data/a0-rgb.bmp" "$data/a0-grey.bmp"
fi
if [ ! -s "$data/a2-grey.bmp" ]; then
  make_scan "$build/work/a2-rgb.bmp" "$data/a2-grey.bmp" 6500 9000
  rm -f "$build/work/a2-rgb.bmp"
fi

# The distribution's policy caps ImageMagick at 16K pixels a side and 256 MiB
# of memory; an A0 scan needs more. These limits apply to this run only.
cat >"$data/magick/policy.xml" <<'POLICY'
<policymap>
  <policy domain="resource" name="memory" value="16GiB"/>
  <policy domain="resource" name="map" value="16GiB"/>
  <policy domain="resource" name="width" value="1MP"/>
  <policy domain="resource" name="height" value="1MP"/>
  <policy domain="resource" name="area" value="4GP"/>
  <policy domain="resource" name="disk" value="64GiB"/>
</policymap>
POLICY
export MAGICK_CONFIGURE_PATH="$data/magick"

"$build/resample_bench" compare "$data/a0-grey.bmp" 9750 13500 "$runs" "$build/work"
echo
"$build/resample_bench" compare "$data/a0-rgb.bmp" 9750 13500 "$runs" "$build/work"
echo
"$build/resample_bench" compare "$data/a2-grey.bmp" 9750 13500 "$runs" "$build/work"
rm -f "$build/work/"*.bmp
