#!/usr/bin/env bash
# The Windows release: cpack -G ZIP makes krftools-<version>-win64.zip with
# the five programs, README, LICENSE and the manual pages as text; each
# program needs no DLL but the system's own.
#   windows_zip_test.sh CPACK BUILD VERSION OBJDUMP
set -euo pipefail
cpack=$1 build=$2 version=$3 objdump=$4
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && "$cpack" -G ZIP -B "$out" >/dev/null)
zip="$out/krftools-$version-win64.zip"
[ -f "$zip" ] || { echo "no $zip"; exit 1; }
(cd "$out" && cmake -E tar xf "$zip")
top="$out/krftools-$version-win64"
status=0
for f in xkrf.exe picsnap.exe mipsnap.exe texsnap.exe snapback.exe README.md LICENSE \
  man/xkrf.txt man/picsnap.txt man/mipsnap.txt man/texsnap.txt man/snapback.txt; do
  [ -s "$top/$f" ] || { echo "missing from the zip: $f"; status=1; }
done
extra=$(cd "$top" && find . -type f | sed 's|^\./||' | grep -Ev '^(man/)?[a-z]+\.(exe|txt)$|^README\.md$|^LICENSE$' || true)
[ -z "$extra" ] || { echo "unexpected in the zip: $extra"; status=1; }
# The manual pages are plain text: no escape sequences or backspaces.
if grep -lP '[\x08\x1b]' "$top"/man/*.txt; then status=1; fi
grep -q "xkrf" "$top/man/xkrf.txt" || status=1
# Windows' own DLLs only: nothing has to be shipped beside the programs.
for exe in "$top"/*.exe; do
  dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  for dll in $dlls; do
    case $dll in
      kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | advapi32.dll | api-ms-win-*.dll) ;;
      *) echo "$(basename "$exe") needs $dll"; status=1 ;;
    esac
  done
done
[ $status -eq 0 ] && echo "$(basename "$zip"): $(cd "$top" && find . -type f | wc -l) files, system DLLs only"
exit $status
