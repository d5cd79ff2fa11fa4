#!/usr/bin/env bash
# dxf_import_bench.sh [RUNS [ENTITIES]]: reads a large DXF file (default
# 200000 entities: lines, eight-vertex light-weight polylines and arcs on a
# few layers) with `lineweft info`, which imports the whole drawing, and with
# ezdxf's readfile, each in a process of its own. Prints the median wall
# times, peak memory and the time ratio.
#
# Needs python3-ezdxf (Debian's, run by /usr/bin/python3), which also writes
# the file once into the bench data folder (build/bench/data; LW_BENCH_DATA
# overrides it).
set -euo pipefail
runs="${1:-3}"
entities="${2:-200000}"
python=/usr/bin/python3
source "$(dirname "$0")/bench_common.sh"
bench_init dxf-import-bench

if ! "$python" -c "import ezdxf" 2>/dev/null; then
  echo "dxf_import_bench.sh: needs ezdxf: apt-get install python3-ezdxf" >&2
  exit 1
fi

bench_build_lineweft
cmake --build "$build/lineweft" --target lineweft >/dev/null

dxf="$data/drawing-$entities.dxf"
if [ ! -s "$dxf" ]; then
  echo "writing $dxf ..."
  mkdir -p "$data"
  "$python" - "$dxf.part" "$entities" <<'PY'
import random
import sys

import ezdxf

path, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(1)
doc = ezdxf.new("R2000")
for layer in ("WALLS", "PIPES", "TEXTS", "HATCH"):
    doc.layers.add(layer)
msp = doc.modelspace()
for i in range(count):
    x, y = rng.uniform(0, 10000), rng.uniform(0, 10000)
    attribs = {"layer": ("0", "WALLS", "PIPES", "TEXTS", "HATCH")[i % 5]}
    if i % 3 == 0:
        msp.add_line((x, y), (x + rng.uniform(-50, 50), y + rng.uniform(-50, 50)), dxfattribs=attribs)
    elif i % 3 == 1:
        points = [(x + 10 * j, y + rng.uniform(-10, 10)) for j in range(8)]
        msp.add_lwpolyline(points, close=i % 2 == 0, dxfattribs=attribs)
    else:
        msp.add_arc((x, y), rng.uniform(1, 50), rng.uniform(0, 360), rng.uniform(0, 360), dxfattribs=attribs)
doc.saveas(path)
PY
  mv "$dxf.part" "$dxf"
fi

work="$build/work"
mkdir -p "$work/settings"
export LINEWEFT_CONFIG_DIR="$work/settings"

echo "$(basename "$dxf") ($(du -m "$dxf" | cut -f1) MB), whole import ($runs runs, medians):"
bench_measure lineweft-info "$build/lineweft/lineweft" info "$dxf"
bench_measure ezdxf-readfile "$python" -c "import sys, ezdxf; ezdxf.readfile(sys.argv[1])" "$dxf"
bench_ratio "lineweft / ezdxf:" "$lineweft_info_s" "$ezdxf_readfile_s"
