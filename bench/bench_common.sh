# Sourced by the bench scripts: the folders, a Release lw_core, the bench
# programs and the synthetic A0 scans they share.
#
# bench_init NAME sets root (the checkout), build (build/NAME) and data (the
# scans, build/bench/data unless LW_BENCH_DATA names another folder).

bench_init() {
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  build="$root/build/$1"
  data="${LW_BENCH_DATA:-$root/build/bench/data}"
}

# A Release lw_core and lw_platform in $build/lineweft.
bench_build_lineweft() {
  cmake -S "$root" -B "$build/lineweft" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/lineweft" --target lw_core lw_platform >/dev/null
}

# bench_compile NAME [FLAGS AND LIBRARIES...]: bench/NAME.cpp to $build/NAME.
# Further sources among the arguments go before the libraries, which the
# linker searches only for what the objects before them need.
bench_compile() {
  local name="$1" arg
  shift
  local sources=() rest=()
  for arg in "$@"; do
    case "$arg" in
      *.cpp) sources+=("$arg") ;;
      *) rest+=("$arg") ;;
    esac
  done
  c++ -std=c++20 -O2 -DNDEBUG -Wall -Wextra -I"$root/src" "$root/bench/$name.cpp" "${sources[@]}" \
    "$build/lineweft/src/liblw_core.a" "$build/lineweft/src/liblw_platform.a" "${rest[@]}" -lfreeimage -ltiff -lEMF -lz -pthread \
    -o "$build/$name"
}

# bench_programs [TARGET]: the CMake project in bench/ (make_scan and the
# threshold bench) in $build/programs, or only TARGET of it.
bench_programs() {
  cmake -S "$root/bench" -B "$build/programs" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DLW_BUILD_DIR="$build/lineweft" >/dev/null
  cmake --build "$build/programs" ${1:+--target "$1"} >/dev/null
}

# bench_make_scan RGB.bmp GREY.bmp [WIDTH HEIGHT]
bench_make_scan() {
  bench_programs make_scan
  "$build/programs/make_scan" "$@"
}

# bench_a0_scans SCAN...: makes the A0 scans in $data unless every named one
# (a0-rgb, a0-grey) is there.
bench_a0_scans() {
  mkdir -p "$data"
  local scan
  for scan in "$@"; do
    if [ ! -s "$data/$scan.bmp" ]; then
      echo "generating the A0 scans in $data ..."
      bench_make_scan "$data/a0-rgb.bmp" "$data/a0-grey.bmp"
      return
    fi
  done
}

# bench_a0_page PROGRAM: the grey A0 scan made one-bit as $data/a0-page.pbm by
# PROGRAM's "make" mode.
bench_a0_page() {
  if [ ! -s "$data/a0-page.pbm" ]; then
    "$1" make "$data/a0-grey.bmp" "$data/a0-page.pbm"
  fi
}

# The distribution's policy caps ImageMagick at 16K pixels a side and 256 MiB
# of memory; an A0 scan needs more. These limits apply to this run only.
bench_magick_policy() {
  mkdir -p "$data/magick"
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
}

# bench_a0_tif: the one-bit A0 page as $data/a0-page.pbm (made by the outline
# bench program, built here when missing) and as the Group 4 TIFF
# $data/a0-page.tif made from it.
bench_a0_tif() {
  if [ ! -s "$data/a0-page.pbm" ]; then
    [ -x "$build/outline_bench" ] || bench_compile outline_bench
    bench_a0_scans a0-grey
    bench_a0_page "$build/outline_bench"
  fi
  if [ ! -s "$data/a0-page.tif" ]; then
    bench_magick_policy
    convert "$data/a0-page.pbm" -compress Group4 "$data/a0-page.tif"
  fi
}

# bench_measure NAME COMMAND...: runs COMMAND ${runs:-1} times with its output
# in $work/NAME.log, prints the median wall time and the peak memory, and keeps
# the median seconds in NAME_s (dashes made underscores).
bench_measure() {
  local name="$1" i seconds peak max=0 times=()
  shift
  for ((i = 0; i < ${runs:-1}; ++i)); do
    /usr/bin/time -f "%e %M" -o "$work/$name.time" "$@" >"$work/$name.log" 2>&1 || {
      echo "$name failed:" >&2
      tail -5 "$work/$name.log" >&2
      exit 1
    }
    read -r seconds peak <"$work/$name.time"
    times+=("$seconds")
    max=$((peak > max ? peak : max))
  done
  seconds=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
  printf '%-28s %8.2f s %10.1f MB\n' "$name" "$seconds" "$(echo "$max / 1024" | bc -l)"
  eval "${name//-/_}_s=$seconds"
}

# bench_ratio LABEL A B [NOTE]: prints A / B.
bench_ratio() {
  printf '%-26s%.2f%s\n' "$1" "$(echo "$2 / $3" | bc -l)" "${4:+ $4}"
}
