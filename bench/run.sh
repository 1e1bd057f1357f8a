#!/usr/bin/env bash
# The benchmark suite: builds the tools and the benchmark programs (Release),
# writes the corpora (fixed seeds, nothing downloaded), times xkrf, mipsnap,
# texsnap and snapback against tar, lz4 and Pillow, runs the codec benchmark and
# prints a Markdown table of medians, ratios and targets.
#
#   bench/run.sh
#
# Needs the Debian packages cmake, g++, make, libbenchmark-dev, tar and lz4;
# python3-pil for the Pillow rows (skipped with a note without it).
#
# Environment:
#   KRF_BENCH_BUILD   build folder (default: build-bench in the source tree)
#   KRF_BENCH_WORK    where the work folder is made (default: /dev/shm when
#                     it has room, else $TMPDIR or /tmp); about 4 GiB
#   KRF_BENCH_REPS    runs of each timed command (default 5, the least that
#                     the targets are judged on)
#   KRF_BENCH_KEEP=1  keep the corpora and outputs afterwards
#   KRF_BENCH_ONLY=codec  only the codec benchmark (about a minute): for work
#                     on the kernels
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KRF_BENCH_BUILD:-$root/build-bench}
reps=${KRF_BENCH_REPS:-5}
only=${KRF_BENCH_ONLY:-}
need_kib=$((4 * 1024 * 1024))
started=$(date +%s)
load_start=$(cut -d' ' -f1-3 /proc/loadavg)

say() { printf 'bench: %s\n' "$*" >&2; }
die() {
  say "$*"
  exit 1
}
case $reps in
  '' | *[!0-9]* | 0) die "KRF_BENCH_REPS must be a count, not '$reps'" ;;
esac
case $only in
  '') ;;
  codec) need_kib=0 ;;
  *) die "KRF_BENCH_ONLY may only be 'codec', not '$only'" ;;
esac
[ "$reps" -ge 5 ] || say "only $reps runs of each command: the targets are meant for 5 or more"

# --- what the machine needs -------------------------------------------------

missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v g++ >/dev/null || missing+=(g++)
command -v make >/dev/null || missing+=(make)
[ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
command -v tar >/dev/null || missing+=(tar)
command -v lz4 >/dev/null || missing+=(lz4)
if [ ${#missing[@]} -gt 0 ]; then
  die "missing Debian packages: ${missing[*]}; install them with" \
    "'apt-get install ${missing[*]} python3-pil' (python3-pil is optional)"
fi
python=
for candidate in /usr/bin/python3 python3; do
  if command -v "$candidate" >/dev/null && "$candidate" -c 'import PIL' 2>/dev/null; then
    python=$(command -v "$candidate")
    break
  fi
done
[ -n "$python" ] || say "Pillow not found: the Pillow rows are skipped (apt-get install python3-pil)"

# --- build ------------------------------------------------------------------

say "building into $build (Release)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKRF_BUILD_BENCH=ON \
  -DKRF_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
xkrf=$build/utils/xkrf/xkrf
mipsnap=$build/utils/mipsnap/mipsnap
texsnap=$build/utils/texsnap/texsnap
snapback=$build/utils/snapback/snapback
corpus_tool=$build/bench/krf_corpus
run_stat=$build/bench/krf_run_stat
codec_bench=$build/bench/krf_codec_bench

# --- work folder --------------------------------------------------------------

free_kib() { df -Pk "$1" | awk 'NR == 2 { print $4 }'; }
if [ -n "${KRF_BENCH_WORK:-}" ]; then
  base=$KRF_BENCH_WORK
  [ -d "$base" ] || die "KRF_BENCH_WORK: no folder '$base'"
elif [ -d /dev/shm ] && [ -w /dev/shm ] && [ "$(free_kib /dev/shm)" -ge "$need_kib" ]; then
  base=/dev/shm
else
  base=${TMPDIR:-/tmp}
fi
[ "$(free_kib "$base")" -ge "$need_kib" ] ||
  die "$base has $(($(free_kib "$base") / 1024)) MiB free; the corpora and outputs need 4096 MiB"
work=$(mktemp -d "$base/krf-bench.XXXXXX")
cleanup() {
  if [ "${KRF_BENCH_KEEP:-0}" = 1 ]; then
    say "corpora and outputs kept in $work"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT
fs_type=$(stat -f -c %T "$work")
say "corpora and outputs go to $work ($fs_type)"
corpus=$work/corpus
out=$work/out
results=$work/results
mkdir -p "$corpus" "$out" "$results"
notes=()
table=$results/table.md
# shellcheck source=bench/measure.sh
. "$root/bench/measure.sh"
table_start

section() { say "$* ($reps runs each, alternating)"; }

# --- end to end ---------------------------------------------------------------

if [ "$only" = codec ]; then
  say "KRF_BENCH_ONLY=codec: the end-to-end rows are skipped"
else
  # shellcheck source=bench/end_to_end.sh
  . "$root/bench/end_to_end.sh"
fi

# --- codec ----------------------------------------------------------------------

codec_paths=()
while read -r path; do codec_paths+=("$path"); done < <("$codec_bench" --paths)
say "codec paths this processor runs: ${codec_paths[*]}; the tools use ${codec_paths[0]}"
section "codec: mixed_EncodeRLE, mixed_DecodeRLE and the size scan against byte-at-a-time code"
"$codec_bench" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.2 --benchmark_out="$results/codec.csv" \
  --benchmark_out_format=csv >"$results/codec.txt" 2>&1 ||
  say "FAILED: the codec benchmark; see $results/codec.txt"

# --- report -------------------------------------------------------------------

if [ "$only" != codec ]; then
  row_time "add -none, many-small (vs tar cf)" ms_add_none ms_tar_c 0.6
  row_time "add (RLE), many-small (vs tar cf)" ms_add_rle ms_tar_c 0.7
  row_time "-ext of the RLE archive, many-small (vs tar xf)" ms_ext ms_tar_x 0.8
  row_time "-list, 100,000 entries into a pipe (vs tar tf)" list_krf list_tar 0.5
  row_time "add (RLE), few-large 8 × 64 MiB (vs lz4 -1)" fl_add fl_lz4 0.45
  row_time "scaling: add (RLE) of 20,000 files (vs 10,000)" scale_20k scale_10k 2.1
  row_rss "peak RSS: add (RLE) of the 1 GiB file (vs tar cf)" huge_add huge_tar_c 16
  row_rss "peak RSS: -ext of the 1 GiB file (vs tar xf)" huge_ext huge_tar_x 16
  row_rss "peak RSS: compaction of an archive holding the 1 GiB file" huge_compact - 16
  if [ -n "$python" ]; then
    row_time "mipsnap, WAD2 of 2,000 textures (vs Pillow)" tex_mipsnap tex_pillow_wad 0.35
    row_time "texsnap, 2,000 .wal files (vs Pillow)" tex_texsnap tex_pillow_wal 0.35
    row_time "mipsnap -png, WAD2 of 2,000 textures (vs Pillow)" png_mipsnap png_pillow 0.5
    row_bytes "size of mipsnap -png's files (vs Pillow's)" "$png_bytes_ours" "$png_bytes_pillow" 1.0
    row_time "snapback wad of 2,000 indexed PNGs (vs Pillow)" back_indexed back_pillow_indexed 0.5
    row_time "snapback wad of 2,000 true-colour PNGs (vs Pillow)" back_wad back_pillow 0.5
  else
    row_alone "mipsnap, WAD2 of 2,000 textures (vs Pillow)" tex_mipsnap "no Pillow" "≤ 0.35"
    row_alone "texsnap, 2,000 .wal files (vs Pillow)" tex_texsnap "no Pillow" "≤ 0.35"
    row_alone "mipsnap -png, WAD2 of 2,000 textures (vs Pillow)" png_mipsnap "no Pillow" "≤ 0.5"
    row_alone "snapback wad of 2,000 indexed PNGs (vs Pillow)" back_indexed "no Pillow" "≤ 0.5"
  fi
  row_rss "peak RSS: snapback wad of 2,000 PNGs (vs of the first 20)" back_wad back_wad20 16
fi
# The targets, on picture data only: AVX2 encodes 8 times and decodes 6
# times as fast as byte-at-a-time code; so does the baseline that every
# x86-64 runs (SSSE3 where present, else SSE2) encode, decoding 5 times as
# fast. The other rows are reported without a target.
baseline=
for path in "${codec_paths[@]}"; do
  case $path in ssse3 | sse2) baseline=${baseline:-$path} ;; esac
done
codec_target() {
  [ "$2" = image ] || return 0
  case $3/$1 in
    avx2/Encode | "$baseline"/Encode) echo 8 ;;
    avx2/Decode) echo 6 ;;
    "$baseline"/Decode) echo 5 ;;
  esac
}
# One table per path, each forced in turn, the tools' own first.
main_table=$table
for path in "${codec_paths[@]}"; do
  table=$results/codec-$path.md
  table_start
  for kind in runny random image; do
    for op in Encode Decode Scan; do
      row_codec "$op" "$kind" "$path" "$(codec_target "$op" "$kind" "$path")"
    done
  done
done
table=$main_table
memcpy_rates=()
for kind in runny random image; do
  rate=$(codec_rate "BM_Memcpy/$kind") && memcpy_rates+=("$rate")
done
[ ${#memcpy_rates[@]} -eq 0 ] ||
  notes+=("memcpy of the same codec data: ${memcpy_rates[*]} MB/s (runny, random, image).")

cpu=$(awk -F': *' '/^model name/ { print $2; exit }' /proc/cpuinfo)
mem=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
pillow="no Pillow"
[ -z "$python" ] || pillow=$("$python" -c \
  'import PIL, sys; print("Pillow %s (Python %d.%d)" % (PIL.__version__, *sys.version_info[:2]))')
report=$build/bench/results.md
{
  echo "Machine: ${cpu:-unknown CPU}, $(nproc) cores, $mem memory; $(uname -sr);" \
    "load average $load_start at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end"
  echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  if commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null); then
    git -C "$root" diff --quiet HEAD 2>/dev/null || commit="$commit with uncommitted changes"
    echo "Source: commit $commit"
  fi
  echo "Compared with: $(tar --version | head -1), lz4 $(lz4 --version 2>&1 | grep -o 'v[0-9.]*' | head -1), $pillow"
  echo "Runs: $reps of each command, alternating; medians. Corpora and outputs: $work ($fs_type)."
  echo "Codec paths this processor runs: ${codec_paths[*]}; the tools chose ${codec_paths[0]}," \
    "the path of every row but the codec tables of the other paths." \
    "Processor flags: $(awk '/^flags/ { for (i = 3; i <= NF; ++i)
      if ($i ~ /^(sse2|ssse3|popcnt|avx2|bmi2|avx512bw|avx512vbmi|avx512_vbmi2)$/) printf "%s ", $i
      exit }' /proc/cpuinfo)"
  if [ "$only" != codec ]; then
    echo
    cat "$table"
  fi
  for path in "${codec_paths[@]}"; do
    echo
    if [ "$path" = "${codec_paths[0]}" ]; then
      echo "Codec on the $path path, the tools' choice:"
    else
      echo "Codec on the $path path (forced):"
    fi
    echo
    cat "$results/codec-$path.md"
  done
  echo
  for note in "${notes[@]}"; do echo "- $note"; done
  echo
  echo "Whole run: $(($(date +%s) - started)) s."
} >"$report"
echo
cat "$report"
say "table written to $report"
