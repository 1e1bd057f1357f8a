#!/usr/bin/env bash
# The kit's whole job on sample data that the project draws itself:
#   1. write a palette, picture lumps, a WAD2 of textures and WAL textures;
#   2. convert them to PCX and to PNG with picsnap, mipsnap and texsnap;
#   3. edit one PNG as a mod maker would and put it back into a new WAD2
#      with snapback;
#   4. pack everything into a KRF archive, list it, test it, extract it
#      elsewhere and compare every file.
# Builds only the tools (Release) in build-demo/ and works in
# build-demo/demo/, which it leaves for you to look at. On Debian it first
# installs, as root, whatever the build needs (see scripts/packages.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/packages.sh"

build=$top/build-demo
work=$build/demo
log=$build/demo.log
started=$(date +%s.%N)
steps=0

# step TITLE COMMAND...: runs the command with its output in the log, and
# prints the title with the time it took; on a failure, the log's tail.
step() {
  local title=$1 begin end
  shift
  begin=$(date +%s.%N)
  printf '%-58s' "$title"
  # errexit holds inside the step's subshell: any failing command fails it.
  set +e
  (
    set -e
    "$@"
  ) >>"$log" 2>&1
  local status=$?
  set -e
  if [ "$status" -ne 0 ]; then
    echo "FAILED"
    echo "--- the end of $log:" >&2
    tail -n 25 "$log" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  awk "BEGIN { printf \"%6.2f s\\n\", $end - $begin }"
  steps=$((steps + 1))
}

ensure_packages "the demo" "${KRF_BUILD_PACKAGES[@]}"
ensure_cmake_version
mkdir -p "$build"
: >"$log"

tools=(xkrf picsnap mipsnap texsnap snapback krf_make_samples)
configure() {
  cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=Release -DKRF_BUILD_TESTS=OFF
}
compile() { cmake --build "$build" -j"$(nproc)" --target "${tools[@]}"; }
step "configuring a Release build of the tools" configure
step "building ${tools[*]}" compile
for t in xkrf picsnap mipsnap texsnap snapback; do PATH=$build/utils/$t:$PATH; done
samples=$build/samples/krf_make_samples

rm -rf "$work"
mkdir -p "$work/game"
cd "$work/game"
step "1. drawing the sample game data" "$samples" .

convert_pcx() {
  mkdir -p textures
  picsnap logo
  picsnap face
  picsnap bar
  mipsnap gfx.wad
  texsnap
}
convert_png() {
  mkdir -p png/textures
  for p in logo face bar; do
    cp "$p.lmp" png/
    picsnap "png/$p" -png
    rm "png/$p.lmp"
  done
  mipsnap gfx.wad png/ -png
  texsnap png/ -png
}
step "2. converting to PCX (picsnap, mipsnap, texsnap)" convert_pcx
step "   converting to PNG (the same, with -png)" convert_png

edit_and_back() {
  mkdir -p edited
  "$samples" edit png/textures/brick.png edited/brick.png
  cp png/textures/~water1.png png/textures/exitsign.png png/textures/checker.png edited/
  snapback wad new.wad edited/brick.png edited/~water1.png edited/exitsign.png \
    edited/checker.png
  mkdir -p check/textures
  mipsnap new.wad check/ -png
  cmp png/textures/~water1.png check/textures/~water1.png
}
step "3. editing brick.png, snapback into new.wad" edit_and_back

pack() { xkrf ../demo '*.*' -subs; }
list() { xkrf ../demo -list; }
check() { xkrf ../demo -test; }
extract() {
  mkdir -p "$work/out"
  cd "$work/out"
  xkrf ../demo '*.*' -subs -ext
}
compare() { diff -r "$work/game" "$work/out"; }
step "4. packing everything into demo.krf (xkrf -subs)" pack
step "   listing demo.krf" list
step "   testing demo.krf" check
step "   extracting demo.krf into out/" extract
step "   comparing out/ with the original files" compare

entries=$(grep -c '^testing .*\.\.\. ok$' "$log" || true)
finished=$(date +%s.%N)
echo
echo "demo: $steps steps done in $(awk "BEGIN{printf \"%.1f\", $finished-$started}") s;" \
  "demo.krf holds $entries files, every one extracted byte for byte."
echo "Open an image: $work/game/png/textures/brick.png (edited: $work/game/edited/brick.png)"
echo "Everything the tools printed: $log"
