#!/usr/bin/env bash
# Builds the Debian package of a build with CPack into a scratch folder and
# checks it:
#   install_deb_test.sh CPACK_COMMAND BUILD_DIR SOURCE_DIR PROJECT_VERSION
# The package must be krftools_<version>_<arch>.deb with its control fields
# set and its dependencies computed, hold exactly the installed files below
# /usr, and its xkrf must run. Where lintian is installed (CI installs it),
# it must report no error and no warning, pedantic checks included.
# Without the Debian packaging tools the test is skipped (status 77) on a
# developer's machine but fails under CI, where .ci/run installs them.
set -uo pipefail

cpack=$1
build=$2
src=$3
version=$4
source "$(dirname "${BASH_SOURCE[0]}")/install_support.sh" || exit 1
require "dpkg-dev and file" dpkg dpkg-deb dpkg-shlibdeps file

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack failed"
  exit 1
fi

deb=$scratch/out/krftools_${version}_$(dpkg --print-architecture).deb
if [ ! -f "$deb" ]; then
  echo "FAIL: no $(basename "$deb"); cpack made: $(ls "$scratch/out")"
  exit 1
fi

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" == krftools ] || fail "Package is '$(field Package)'"
[ "$(field Version)" == "$version" ] || fail "Version is '$(field Version)', expected $version"
[ -n "$(field Maintainer)" ] || fail "no Maintainer field"
[ -n "$(field Description)" ] || fail "no Description field"
# dpkg-shlibdeps puts the C library among the dependencies of any C++ tool.
grep -qE '(^|, )libc6( |,|$)' <<<"$(field Depends)" ||
  fail "Depends '$(field Depends)' lacks libc6: were the dependencies computed?"

contents=$(dpkg-deb -c "$deb")
echo "$contents"
files=$(awk '$1 !~ /^d/ { print $6 }' <<<"$contents" | sort)
expected=$(expected_files | sed 's|^|./usr/|' | sort)
[ "$files" == "$expected" ] || fail "the package's files differ from the expected ones:
$(diff <(echo "$expected") <(echo "$files"))"

root=$scratch/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
check_installed "$root/usr" "$src"
mkdir "$scratch/work"
output=$(cd "$scratch/work" && "$root/usr/bin/xkrf" </dev/null 2>&1)
rc=$?
[ "$rc" -eq 1 ] || fail "the packaged xkrf without arguments exited $rc, expected 1"
grep -qF "Usage: xkrf KRF-file file-mask" <<<"$output" ||
  fail "the packaged xkrf printed no usage line:
$output"

if command -v lintian >/dev/null; then
  # Root is the usual user here; lintian's note on it is no finding.
  report=$(lintian -EvIL +pedantic --tag-display-limit 0 "$deb" 2>&1 |
    grep -v '^running with root privileges')
  echo "$report"
  if grep -qE '^[EW]: ' <<<"$report"; then fail "lintian reports errors or warnings"; fi
elif [ -n "${CI:-}" ]; then
  fail "lintian is missing (.ci/run installs it)"
else
  echo "lintian is not installed: the package's lint was not checked"
fi

finish package "package: $(basename "$deb") holds the tools, their pages and completions"
