#!/usr/bin/env bash
# curves_bench.sh [DXF...]: how closely traced lines and circles follow the
# drawing. Each CAD drawing (default: every one in the shared samples folder)
# is rasterised 2000 px wide with a 3 px round pen, traced, and measured
# against its own geometry; the synthetic sheet of circles and polygons
# and twenty random tangles (tests/support/ground_truth.cpp) likewise.
#
# Columns per drawing and tracer: the farthest traced point from the true
# centre line (px), the share of the true centre line within 2 px of the
# trace, true circles found (by the outline, a ring only when its outer
# border and its hole are both circles) / present, polygons made curves /
# polygons that stand off their circle by 1.5 stroke widths or more.
# Tracers: centre line
# with the default options, the same with angle adjustment off, outline,
# and potrace's outline (`potrace -b dxf`) beside them.
#
# The goals (centre line: within 6 px with the defaults and 4 px without
# angle adjustment on drawings without text) are checked on the summary lines.
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
bench_init curves-bench
# The samples sit beside the checkout (../shared), or CURVES_SAMPLES names them.
samples="${CURVES_SAMPLES:-$root/../shared/data/dxf-samples}"
python=/usr/bin/python3   # Debian's, which has ezdxf

work="$build/work"
mkdir -p "$work"
# CURVES_BENCH names a program built before (to measure a tree as it was).
program="${CURVES_BENCH:-$build/curves_bench}"
if [ -z "${CURVES_BENCH:-}" ]; then
  export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-3}"
  bench_build_lineweft
  bench_compile curves_bench "$root/tests/support/ground_truth.cpp" -I"$root/tests"
fi

if [ $# -eq 0 ]; then
  shopt -s nullglob nocaseglob
  set -- "$samples"/*.dxf
  shopt -u nullglob nocaseglob
fi

# potrace_figures NAME TRUTH: potrace's outline of the same raster, measured.
potrace_figures() {
  "$program" pbm "$2" "$work/$1.pbm"
  potrace -b dxf -o "$work/$1.potrace.dxf" "$work/$1.pbm"
  local size
  size=$(head -c 64 "$work/$1.pbm" | sed -n 2p)
  WIDTH=${size% *} HEIGHT=${size#* } "$python" "$root/bench/dxf_truth.py" "$work/$1.potrace.dxf" "$work/$1.potrace.txt" 0
  "$program" measure "$2" "$work/$1.potrace.txt"
}

row() { # NAME TRACER FIGURES
  local far covered found circles curved polygons seconds
  read -r far covered found circles curved polygons seconds <<<"$3"
  printf '%-44s %-10s %8.2f %8.4f %4s/%-4s %3s/%-3s %7.3f\n' "$1" "$2" "$far" "$covered" "$found" "$circles" "$curved" "$polygons" "$seconds"
}

printf '%-44s %-10s %8s %8s %9s %7s %7s\n' drawing tracer max_px within2 circles curved seconds
worst_default=0 worst_noangle=0 found=0 circles=0
worst_tangle=0 worst_tangle_noangle=0
for dxf in "$@" sheet $(seq -f 'tangle-%g' 1 20); do
  if [ "$dxf" = sheet ] || [ "${dxf#tangle-}" != "$dxf" ]; then
    name=$dxf truth=$dxf texts=0
  else
    name=$(basename "${dxf%.*}")
    truth="$work/$name.truth"
    "$python" "$root/bench/dxf_truth.py" "$dxf" "$truth" 2000 2>/dev/null || { echo "$name: unreadable" >&2; continue; }
    texts=$(sed -n 's/^text //p' "$truth")
  fi
  centre=$("$program" trace "$truth" centerline)
  noangle=$("$program" trace "$truth" centerline Force=0)
  row "$name" centre "$centre"
  row "$name" no-angle "$noangle"
  row "$name" outline "$("$program" trace "$truth" outline)"
  row "$name" potrace "$(potrace_figures "$name" "$truth")"
  if [ "${name#tangle-}" != "$name" ]; then
    worst_tangle=$(echo "$centre" | awk -v w="$worst_tangle" '{ print ($1 > w ? $1 : w) }')
    worst_tangle_noangle=$(echo "$noangle" | awk -v w="$worst_tangle_noangle" '{ print ($1 > w ? $1 : w) }')
  elif [ "$texts" = 0 ]; then
    worst_default=$(echo "$centre" | awk -v w="$worst_default" '{ print ($1 > w ? $1 : w) }')
    worst_noangle=$(echo "$noangle" | awk -v w="$worst_noangle" '{ print ($1 > w ? $1 : w) }')
  fi
  read -r _ _ f c _ <<<"$centre"
  if [ "$name" != sheet ]; then found=$((found + f)) circles=$((circles + c)); fi
done
echo
echo "drawings without text, centre line: farthest $worst_default px (goal <= 6), without angle adjustment $worst_noangle px (goal <= 4)"
echo "true circles of the drawings found by the centre line: $found of $circles"
echo "tangles (random walks crossing themselves), centre line: farthest $worst_tangle px, without angle adjustment $worst_tangle_noangle px"
