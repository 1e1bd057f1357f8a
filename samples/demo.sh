#!/usr/bin/env bash
# Builds the tools, then packs the sample tree into an archive, lists it,
# extracts it into a scratch folder and compares the result with the tree.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cmake --preset default -S "$top" >/dev/null
cmake --build --preset default >/dev/null
xkrf="$top/build/utils/xkrf/xkrf"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp -r "$top/samples/tree" "$scratch/tree"
mkdir "$scratch/out"

cd "$scratch/tree"
echo "== packing the sample tree into demo.krf"
"$xkrf" ../demo '*.*' -subs
echo "== listing demo.krf"
"$xkrf" ../demo -list
cd "$scratch/out"
echo "== extracting demo.krf into a scratch folder"
"$xkrf" ../demo '*.*' -subs -ext
echo "== comparing"
if diff -r "$top/samples/tree" "$scratch/out"; then
  echo "demo: every file came back byte for byte"
else
  echo "demo: the extracted tree differs" >&2
  exit 1
fi
