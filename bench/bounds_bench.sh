#!/usr/bin/env bash
# bounds_bench.sh: the time and peak memory of inputs whose cost must stay
# bounded by what they hold, not by what they claim:
# - `info` of a half-megabyte project whose raster record claims 550 MB of
#   pixels behind a damaged header (refused after reading the header);
# - `options --load` of job files of 8,000 to 100,000 sections (linear);
# - `render --size 16384x16384` of a small traced project, whose 805 MB
#   picture should peak within about 1.5 times that.
set -euo pipefail
source "$(dirname "$0")/bench_common.sh"
bench_init bounds-bench

bench_build_lineweft
cmake --build "$build/lineweft" --target lineweft >/dev/null
lineweft="$build/lineweft/lineweft"
work="$build/work"
mkdir -p "$work/settings"
export LINEWEFT_CONFIG_DIR="$work/settings"

# measure NAME COMMAND...: one run, whatever its exit status.
measure() {
  local name="$1" seconds peak status=0
  shift
  /usr/bin/time -f "%e %M" -o "$work/$name.time" "$@" >"$work/$name.log" 2>&1 || status=$?
  read -r seconds peak < <(tail -n 1 "$work/$name.time")
  printf '%-28s %8.2f s %10.1f MB  exit %d\n' "$name" "$seconds" "$(echo "$peak / 1024" | bc -l)" "$status"
}

/usr/bin/python3 - "$work" <<'PY'
import struct, sys, zlib
work = sys.argv[1]
# A drawing header with a grid, no layers, then a raster record whose block
# unpacks to 550 MB of zeros: no header in it at all.
header = struct.pack('<IIIIdddddI', 3, 0, 0, 0, 0.0, 0.0, 0.0, 10.0, 10.0, 0)
stated = 550_000_000
stream = zlib.compressobj(9)
packed = b''.join(stream.compress(bytes(1 << 20)) for _ in range(stated >> 20))
packed += stream.compress(bytes(stated - ((stated >> 20) << 20))) + stream.flush()
block = struct.pack('<I', stated) + packed
record = struct.pack('<IIhhddIBB', 5, 1, 256, 256, 0.0, 0.0, 0, 0, 0)
record += struct.pack('<ddII', 0.0, 0.0, 0, 0) + struct.pack('<I', len(block)) + block + b'\0\0'
open(f'{work}/claims-550mb.lwt', 'wb').write(struct.pack('<f', 1.0) + header + struct.pack('<II', 0, 0) + record)
# An 800 x 1050 grey page of ruled lines, to trace into a small project.
width, height = 800, 1050
rows = b''.join(bytes(30 if x % 37 < 3 or y % 23 < 2 else 230 for x in range(width)) for y in range(height))
palette = b''.join(bytes((i, i, i, 0)) for i in range(256))
offset = 14 + 40 + len(palette)
bmp = b'BM' + struct.pack('<IHHI', offset + len(rows), 0, 0, offset)
bmp += struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 0, len(rows), 11811, 11811, 256, 0) + palette + rows
open(f'{work}/page.bmp', 'wb').write(bmp)
for n in (8000, 16000, 32000, 100000):
    with open(f'{work}/sections-{n}.lwj', 'w') as job:
        job.writelines(f'[J{i}]\nA={i}\n' for i in range(n))
        job.write('[Options]\nMethod=Outline\n')
PY

echo "Bounded costs (one run each):"
measure info-damaged-project "$lineweft" info "$work/claims-550mb.lwt"
for n in 8000 16000 32000 100000; do
  measure "job-file-$n-sections" "$lineweft" options --load "$work/sections-$n.lwj"
done
"$lineweft" trace "$work/page.bmp" -o "$work/page.lwt" >/dev/null 2>&1
measure render-16384-square "$lineweft" render "$work/page.lwt" -o "$work/render.png" --size 16384x16384
