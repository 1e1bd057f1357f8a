# shellcheck shell=bash disable=SC2154  # the variables below are run.sh's
# The end-to-end part of run.sh, which sources it: writes the corpora and
# times the tools against tar, lz4 and Pillow, each row's commands taking
# turns. Leaves its results in results/ and its remarks in notes.

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
