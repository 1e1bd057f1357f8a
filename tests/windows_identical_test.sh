#!/usr/bin/env bash
# The Windows tools do the same work as the Linux ones, byte for byte: the
# kit's sample data converted to PCX and PNG, edited images put back into a
# WAD2, everything packed, listed, tested and extracted, once by each build.
# Every file written must be identical, and so must everything printed, CR
# LF line ends aside (which every Windows line must have) and the banners'
# edition, which names the system.
#   windows_identical_test.sh LINUX_BUILD WINDOWS_BUILD WINE
# Status 77 when there is no Linux build to compare with.
set -euo pipefail
linux=$1 windows=$2 wine=$3
samples=$linux/samples/krf_make_samples
if [ ! -x "$samples" ] || [ ! -x "$linux/utils/xkrf/xkrf" ]; then
  echo "no Linux build in $linux to compare with (cmake --workflow --preset default first)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/data"
(cd "$work/data" && "$samples" . >/dev/null)

linux_tool() { "$linux/utils/$1/$1" "${@:2}"; }
windows_tool() { "$wine" "$windows/utils/$1/$1.exe" "${@:2}"; }

# The same work as samples/demo.sh, in DIR, through RUNNER.
work_through() {
  local dir=$1 run=$2
  cp -r "$work/data" "$dir"
  cd "$dir"
  mkdir -p textures png/textures edited
  $run picsnap logo
  $run picsnap face
  $run mipsnap gfx.wad
  $run texsnap
  cp logo.lmp png/
  $run picsnap png/logo -png
  $run mipsnap gfx.wad png/ -png
  $run texsnap png/ -png
  cp png/textures/~water1.png png/textures/checker.png edited/
  $run snapback wad new.wad edited/~water1.png edited/checker.png
  $run snapback lmp edited/checker.png
  $run xkrf pack '*.*' -subs
  $run xkrf pack -list
  $run xkrf pack -test
  $run xkrf pack 'textures\*.pcx' -del
  mkdir out
  cd out
  $run xkrf ../pack '*.*' -subs -ext
}

(work_through "$work/linux" linux_tool) >"$work/linux.log" 2>&1
(work_through "$work/windows" windows_tool) >"$work/windows.log" 2>&1

status=0
if ! diff -r "$work/linux" "$work/windows"; then
  echo "the Windows tools wrote other files than the Linux ones"
  status=1
fi
if grep -qa -e $'[^\r]$' -e '^$' "$work/windows.log"; then
  echo "a line the Windows tools printed does not end in CR LF:"
  grep -an -e $'[^\r]$' -e '^$' "$work/windows.log" | head -5
  status=1
fi
if ! grep -q "(Windows edition 1.0)" "$work/windows.log"; then
  echo "the Windows tools' banners do not name Windows"
  status=1
fi
if ! diff <(tr -d '\r' <"$work/windows.log" | sed 's/(Windows edition /(Linux edition /') \
  "$work/linux.log"; then
  echo "the Windows tools printed other text than the Linux ones"
  status=1
fi
[ $status -eq 0 ] && echo "$(find "$work/linux" -type f | wc -l) files and $(wc -l <"$work/linux.log") printed lines identical"
exit $status
