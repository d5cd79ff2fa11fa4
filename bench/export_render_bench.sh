#!/usr/bin/env bash
# export_render_bench.sh: every DXF of the CAD samples (LW_DXF_SAMPLES names
# their folder) and the test trace, written in every page format and drawn
# by that format's reader, compared with the drawing of its PDF: the sample
# render test of the suite over the whole set instead of its few. Prints
# each sample's result and the time the set took.
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
bench_init export-render-bench

cmake -S "$root" -B "$build/tests" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/tests" --target lw_export_tests >/dev/null

start=$(date +%s.%N)
status=0
LW_RENDER_ALL_SAMPLES=1 "$build/tests/tests/lw_export_tests" --gtest_filter='*SampleRender*' --gtest_brief=1 ||
  status=$?
end=$(date +%s.%N)
echo "whole sample set: $(echo "$end - $start" | bc) s"
exit "$status"
