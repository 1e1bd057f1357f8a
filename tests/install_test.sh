#!/usr/bin/env bash
# Installs a build into a scratch prefix and runs each installed tool once:
#   install_test.sh CMAKE_COMMAND BUILD_DIR SOURCE_DIR
# The prefix must then hold exactly the files of expected_files, the pages
# and completions as they are in the source tree.
set -uo pipefail

cmake=$1
build=$2
src=$3
source "$(dirname "${BASH_SOURCE[0]}")/install_support.sh" || exit 1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix

if ! "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log"
  echo "FAIL: cmake --install failed"
  exit 1
fi

expected=$(expected_files | sort)
installed=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort)
[ "$installed" == "$expected" ] ||
  fail "installed files differ from the expected ones:
$(diff <(echo "$expected") <(echo "$installed"))"

for t in "${tools[@]}"; do
  [ -x "$prefix/bin/$t" ] || fail "bin/$t is not an executable"
done
check_installed "$prefix" "$src"

# Runs an installed tool in an empty folder: run TOOL STATUS TEXT [ARGS...]
# expects exit status STATUS and the line TEXT in its output.
run() {
  local tool=$1 status=$2 text=$3 work output rc
  shift 3
  work=$(mktemp -d "$scratch/run.XXXXXX")
  output=$(cd "$work" && "$prefix/bin/$tool" "$@" </dev/null 2>&1)
  rc=$?
  [ "$rc" -eq "$status" ] || fail "$tool $*: exit status $rc, expected $status"
  grep -qxF -- "$text" <<<"$output" || fail "$tool $*: no line '$text' in:
$output"
}

run xkrf 1 "Usage: xkrf KRF-file file-mask [-subs -add -del -ext (-list) (-none) -rle]"
run picsnap 1 "Error: Could not open 'palette.lmp' !" logo
run mipsnap 1 "Error: Could not open 'palette.lmp' !" gfx.wad
run texsnap 1 "Error: Could not open 'palette.lmp' !"
run snapback 1 "snapback: palette.lmp: cannot read the palette: No such file or directory" lmp x.png

# The installed xkrf also does real work: pack a file, then test the archive.
work=$scratch/pack
mkdir -p "$work"
printf 'installed tools work\n' >"$work/readme.txt"
if ! (cd "$work" && "$prefix/bin/xkrf" kit '*.txt' >/dev/null); then
  fail "xkrf kit '*.txt' failed"
fi
output=$(cd "$work" && "$prefix/bin/xkrf" kit -test 2>&1)
[ $? -eq 0 ] || fail "xkrf kit -test failed:
$output"
grep -qxF "testing readme.txt... ok" <<<"$output" || fail "xkrf kit -test: readme.txt not ok:
$output"

finish install "install: the tools, their pages and completions installed and ran"
