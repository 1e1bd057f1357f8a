#!/usr/bin/env bash
# The bash completions in completion/ offer what the tools take:
#   completion_test.sh SOURCE_DIR
set -uo pipefail
src=$1
source "$(dirname "${BASH_SOURCE[0]}")/install_support.sh" || exit 1
shopt -s extglob
for c in "$src"/completion/*; do source "$c"; done

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
mkdir maps
touch gfx.krf Mod.KRF notes.txt a.pcx b.png c.lmp d.wad palette.lmp

# expect "WORDS..." "REPLIES": completing the last word (possibly empty) of
# WORDS must give exactly REPLIES, sorted and space-separated.
expect() {
  local words reply
  read -ra words <<<"$1"
  [[ $1 == *' ' ]] && words+=("")
  COMP_WORDS=("${words[@]}")
  COMP_CWORD=$((${#words[@]} - 1))
  COMPREPLY=()
  "_${words[0]}" 2>/dev/null
  reply=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ')
  [ "$reply" == "$2" ] || fail "'$1' completes to '$reply', expected '$2'"
}

expect "xkrf " "Mod gfx maps/"
expect "xkrf g" "gfx"
expect "xkrf gfx -l" "-list"
expect "xkrf gfx --v" "--version"
expect "xkrf gfx n" "notes.txt"
expect "xkrf -subs gfx " "Mod.KRF a.pcx b.png c.lmp d.wad gfx.krf maps notes.txt palette.lmp"
expect "snapback w" "wad wal"
expect "snapback lmp " "a.pcx b.png maps/"
expect "snapback wad " "d.wad maps/"
expect "snapback wad out.wad " "a.pcx b.png maps/"
expect "snapback wad -p palette.lmp out.wad " "a.pcx b.png maps/"
expect "snapback wal --p" "--palette"
expect "snapback wad --p" "--palette --pic"
expect "snapback lmp -p " "c.lmp maps/ palette.lmp"
expect "snapback lmp -o " "maps/"

finish completion "completion: every case completed as expected"
