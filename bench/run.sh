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
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${KRF_BENCH_BUILD:-$root/build-bench}
reps=${KRF_BENCH_REPS:-5}
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

# --- corpora and timings ------------------------------------------------------

many_small=$corpus/many-small
say "writing many-small: 10,000 files of 1-16 KiB in 100 folders"
"$corpus_tool" many-small "$many_small" 10000 100

section "many-small: xkrf add -none, xkrf add (RLE), tar cf"
for ((i = 0; i < reps; ++i)); do
  rm -f "$out/ms-none.krf"
  timed ms_add_none "$many_small" /dev/null -- "$xkrf" ../../out/ms-none '*.*' -subs -none
  rm -f "$out/ms-rle.krf"
  timed ms_add_rle "$many_small" /dev/null -- "$xkrf" ../../out/ms-rle '*.*' -subs
  rm -f "$out/ms.tar"
  timed ms_tar_c "$many_small" /dev/null -- tar cf ../../out/ms.tar .
done

section "many-small: xkrf -ext of the RLE archive, tar xf"
for ((i = 0; i < reps; ++i)); do
  fresh_dir "$work/x-krf"
  timed ms_ext "$work/x-krf" /dev/null -- "$xkrf" ../out/ms-rle '*.*' -subs -ext
  fresh_dir "$work/x-tar"
  timed ms_tar_x "$work/x-tar" /dev/null -- tar xf ../out/ms.tar
done
if [ -d "$work/x-krf" ] && diff -r "$many_small" "$work/x-krf" >/dev/null; then
  notes+=("xkrf -ext gave back all 10,000 files of many-small byte for byte.")
else
  notes+=("**xkrf -ext did not give back many-small exactly** (diff -r found differences).")
fi
rm -rf "$work/x-krf" "$work/x-tar"

many_small_20k=$corpus/many-small-20k
say "writing many-small-20k: the same 100 folders with 20,000 files"
"$corpus_tool" many-small "$many_small_20k" 20000 100
section "scaling: xkrf add (RLE) of 10,000 and of 20,000 files"
for ((i = 0; i < reps; ++i)); do
  rm -f "$out/scale10.krf"
  timed scale_10k "$many_small" /dev/null -- "$xkrf" ../../out/scale10 '*.*' -subs
  rm -f "$out/scale20.krf"
  timed scale_20k "$many_small_20k" /dev/null -- "$xkrf" ../../out/scale20 '*.*' -subs
done
rm -rf "$many_small_20k" "$out"/scale*.krf

say "writing the listing corpus: 100,000 files in 100 folders, packed once with xkrf and tar"
"$corpus_tool" tiny "$corpus/tiny" 100000 100
"$run_stat" -C "$corpus/tiny" -- "$xkrf" ../../out/list100k '*.*' -subs -none >/dev/null ||
  say "FAILED: packing the listing corpus with xkrf"
(cd "$corpus/tiny" && find . -type f | LC_ALL=C sort >"$work/tiny.lst" &&
  tar cf "$out/list100k.tar" --no-recursion -T "$work/tiny.lst")
rm -rf "$corpus/tiny" "$work/tiny.lst"
section "listing 100,000 entries into a pipe: xkrf -list, tar tf"
for ((i = 0; i < reps; ++i)); do
  timed list_krf "$out" pipe -- "$xkrf" list100k -list
  timed list_tar "$out" pipe -- tar tf list100k.tar
done
rm -f "$out"/list100k.*

say "writing few-large: 8 files of 64 MiB (runny, random, image-like)"
"$corpus_tool" few-large "$corpus/few-large"
few_large_files=()
for f in "$corpus/few-large"/*; do few_large_files+=("$(basename "$f")"); done
section "few-large: xkrf add (RLE), lz4 -1"
for ((i = 0; i < reps; ++i)); do
  rm -f "$out/fl.krf"
  timed fl_add "$corpus/few-large" /dev/null -- "$xkrf" ../../out/fl '*.*'
  rm -f "$out/fl.lz4"
  timed fl_lz4 "$corpus/few-large" "$out/fl.lz4" -- lz4 -1 -q -m -c "${few_large_files[@]}"
done
if [ -f "$out/fl.krf" ] && [ -f "$out/fl.lz4" ]; then
  notes+=("few-large (512 MiB) packs to $(($(stat -c %s "$out/fl.krf") >> 20)) MiB with xkrf, \
to $(($(stat -c %s "$out/fl.lz4") >> 20)) MiB with lz4 -1.")
fi
rm -rf "$corpus/few-large" "$out"/fl.*

say "writing textures: a WAD2 of 2,000 textures and the same as .wal files"
"$corpus_tool" textures "$corpus/textures" "$corpus/wal" 2000
if [ -n "$python" ]; then
  section "textures: mipsnap, Pillow (WAD2), texsnap, Pillow (.wal)"
else
  section "textures: mipsnap, texsnap (Pillow rows skipped)"
fi
for ((i = 0; i < reps; ++i)); do
  fresh_dir "$work/pcx-mipsnap/textures"
  timed tex_mipsnap "$corpus/textures" /dev/null -- "$mipsnap" gfx.wad "$work/pcx-mipsnap/"
  if [ -n "$python" ]; then
    fresh_dir "$work/pcx-pillow-wad/textures"
    timed tex_pillow_wad "$corpus/textures" /dev/null -- \
      "$python" "$root/bench/pillow_peer.py" wad gfx.wad "$work/pcx-pillow-wad/"
  fi
  fresh_dir "$work/pcx-texsnap/textures"
  timed tex_texsnap "$corpus/wal" /dev/null -- "$texsnap" "$work/pcx-texsnap/"
  if [ -n "$python" ]; then
    fresh_dir "$work/pcx-pillow-wal/textures"
    timed tex_pillow_wal "$corpus/wal" /dev/null -- \
      "$python" "$root/bench/pillow_peer.py" wal "$work/pcx-pillow-wal/"
  fi
done
if [ -n "$python" ]; then
  for tool in mipsnap texsnap; do
    other=$([ $tool = mipsnap ] && echo wad || echo wal)
    if same=$("$python" "$root/bench/pillow_peer.py" compare "$work/pcx-$tool/textures" \
      "$work/pcx-pillow-$other/textures"); then
      notes+=("$tool and Pillow wrote the same images (size, pixels, palette): $same.")
    else
      notes+=("**$tool and Pillow disagree**: $same")
    fi
  done
else
  notes+=("Pillow rows skipped: Pillow not found (apt-get install python3-pil).")
fi
rm -rf "$corpus/wal" "$work"/pcx-*

if [ -n "$python" ]; then
  section "textures as PNG: mipsnap -png, Pillow (WAD2)"
else
  section "textures as PNG: mipsnap -png (Pillow rows skipped)"
fi
for ((i = 0; i < reps; ++i)); do
  fresh_dir "$work/png-mipsnap/textures"
  timed png_mipsnap "$corpus/textures" /dev/null -- "$mipsnap" gfx.wad "$work/png-mipsnap/" -png
  if [ -n "$python" ]; then
    fresh_dir "$work/png-pillow/textures"
    timed png_pillow "$corpus/textures" /dev/null -- \
      "$python" "$root/bench/pillow_peer.py" wad gfx.wad "$work/png-pillow/" png
  fi
done
bytes_in() { find "$1" -type f -printf '%s\n' | awk '{ n += $1 } END { print n + 0 }'; }
png_bytes_ours=$(bytes_in "$work/png-mipsnap/textures")
if [ -n "$python" ]; then
  png_bytes_pillow=$(bytes_in "$work/png-pillow/textures")
  if same=$("$python" "$root/bench/pillow_peer.py" compare "$work/png-mipsnap/textures" \
    "$work/png-pillow/textures"); then
    notes+=("mipsnap -png and Pillow wrote the same PNG images (size, pixels, palette): $same.")
  else
    notes+=("**mipsnap -png and Pillow disagree**: $same")
  fi
fi

# The way back, from the indexed PNGs mipsnap wrote (the round trip: each
# keeps its indices) and from true-colour ones, as a paint program saves an
# image edited in RGB (made once by Pillow from mipsnap's), whose every pixel
# is matched to the palette.
indexed=$work/png-mipsnap/textures
cp "$corpus/textures/palette.lmp" "$indexed/"
rgb=$work/png-back
mkdir -p "$rgb"
cp "$corpus/textures/palette.lmp" "$rgb/"
if [ -n "$python" ]; then
  "$python" "$root/bench/pillow_peer.py" rgb "$indexed" "$rgb"
else
  cp "$indexed"/*.png "$rgb/"
fi
rm -rf "$work"/png-pillow
png_names=()
for f in "$indexed"/*.png; do png_names+=("$(basename "$f")"); done
section "the way back: snapback wad of ${#png_names[@]} indexed and true-colour PNGs, Pillow"
for ((i = 0; i < reps; ++i)); do
  rm -f "$out"/back*.wad
  timed back_indexed "$indexed" /dev/null -- "$snapback" wad -q ../../out/back-indexed.wad \
    "${png_names[@]}"
  timed back_wad "$rgb" /dev/null -- "$snapback" wad -q ../out/back.wad "${png_names[@]}"
  timed back_wad20 "$rgb" /dev/null -- "$snapback" wad -q ../out/back20.wad "${png_names[@]:0:20}"
  if [ -n "$python" ]; then
    timed back_pillow_indexed "$indexed" /dev/null -- "$python" "$root/bench/pillow_peer.py" \
      snapback ../../out/back-pillow-indexed.wad "${png_names[@]}"
    timed back_pillow "$rgb" /dev/null -- \
      "$python" "$root/bench/pillow_peer.py" snapback ../out/back-pillow.wad "${png_names[@]}"
  fi
done
if [ -n "$python" ] && [ -f "$out/back.wad" ] && [ -f "$out/back-pillow.wad" ]; then
  ours=$("$python" "$root/bench/pillow_peer.py" samewad "$corpus/textures/gfx.wad" "$out/back.wad")
  theirs=$("$python" "$root/bench/pillow_peer.py" samewad "$corpus/textures/gfx.wad" \
    "$out/back-pillow.wad")
  twice=$("$python" -c 'import sys; p = open(sys.argv[1], "rb").read(768)
print(256 - len({p[i:i + 3] for i in range(0, 768, 3)}))' "$rgb/palette.lmp")
  notes+=("From the true-colour PNGs, snapback gave back $ours of the original WAD2, \
Pillow's quantize $theirs (the palette repeats $twice colour(s); a pixel of a repeat's \
higher index comes back as the lower).")
fi
rm -rf "$rgb" "$work"/png-mipsnap "$out"/back*.wad "$corpus/textures"

say "writing huge: one 1 GiB image-like file"
huge=$corpus/huge
mkdir -p "$huge"
"$corpus_tool" large "$huge/huge.dat" 1024
section "huge: peak memory of xkrf add (RLE) and tar cf of the 1 GiB file"
for ((i = 0; i < reps; ++i)); do
  rm -f "$out/huge.krf"
  timed huge_add "$huge" /dev/null -- "$xkrf" ../../out/huge huge.dat
  rm -f "$out/huge.tar"
  timed huge_tar_c "$huge" /dev/null -- tar cf ../../out/huge.tar huge.dat
done
section "huge: peak memory of xkrf -ext and tar xf of the 1 GiB file"
for ((i = 0; i < reps; ++i)); do
  fresh_dir "$work/x-huge"
  timed huge_ext "$work/x-huge" /dev/null -- "$xkrf" ../out/huge huge.dat -ext
  if [ "$i" = 0 ]; then
    if cmp -s "$huge/huge.dat" "$work/x-huge/huge.dat"; then
      notes+=("xkrf -ext gave back the 1 GiB file byte for byte.")
    else
      notes+=("**xkrf -ext did not give back the 1 GiB file exactly.**")
    fi
  fi
  fresh_dir "$work/x-huge"
  timed huge_tar_x "$work/x-huge" /dev/null -- tar xf ../out/huge.tar
done
rm -rf "$work/x-huge" "$out"/huge.*
section "huge: peak memory of compaction (-del of a small entry stored before the 1 GiB file)"
printf 'a small entry in front of the large one\n' >"$huge/small.txt"
if ! "$run_stat" -C "$huge" -- "$xkrf" ../../out/compact small.txt >/dev/null ||
  ! "$run_stat" -C "$huge" -- "$xkrf" ../../out/compact huge.dat >/dev/null; then
  say "FAILED: building the archive for the compaction runs"
fi
for ((i = 0; i < reps; ++i)); do
  cp "$out/compact.krf" "$out/compacting.krf" || break
  timed huge_compact "$out" /dev/null -- "$xkrf" compacting small.txt -del
done
rm -rf "$huge" "$out"/*.krf

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

row_time "add -none, many-small (vs tar cf)" ms_add_none ms_tar_c 0.8
row_time "add (RLE), many-small (vs tar cf)" ms_add_rle ms_tar_c 1.0
row_time "-ext of the RLE archive, many-small (vs tar xf)" ms_ext ms_tar_x 0.9
row_time "-list, 100,000 entries into a pipe (vs tar tf)" list_krf list_tar 0.5
row_time "add (RLE), few-large 8 × 64 MiB (vs lz4 -1)" fl_add fl_lz4 0.5
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
# The targets: on picture data the baseline that every x86-64 runs (SSSE3
# where present, else SSE2) encodes 8 times and decodes 5 times as fast as
# byte-at-a-time code; the other rows are reported without a target.
baseline=
for path in "${codec_paths[@]}"; do
  case $path in ssse3 | sse2) baseline=${baseline:-$path} ;; esac
done
codec_target() {
  [ "$2" = image ] && [ "$3" = "$baseline" ] || return 0
  case $1 in
    Encode) echo 8 ;;
    Decode) echo 5 ;;
  esac
}
for kind in runny random image; do
  for op in Encode Decode Scan; do
    row_codec "$op" "$kind" "${codec_paths[0]}" "$(codec_target "$op" "$kind" "${codec_paths[0]}")"
  done
done
for path in "${codec_paths[@]:1}"; do
  for op in Encode Decode Scan; do
    row_codec "$op" image "$path" "$(codec_target "$op" image "$path")"
  done
done
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
  echo "Codec paths: ${codec_paths[*]}; the tools ran on ${codec_paths[0]}." \
    "Processor flags: $(awk '/^flags/ { for (i = 3; i <= NF; ++i)
      if ($i ~ /^(sse2|ssse3|popcnt|avx2|bmi2|avx512bw|avx512vbmi|avx512_vbmi2)$/) printf "%s ", $i
      exit }' /proc/cpuinfo)"
  echo
  cat "$table"
  echo
  for note in "${notes[@]}"; do echo "- $note"; done
  echo
  echo "Whole run: $(($(date +%s) - started)) s."
} >"$report"
echo
cat "$report"
say "table written to $report"
