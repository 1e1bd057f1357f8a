#!/usr/bin/env bash
# Builds the tools and the test suite and runs every test. On Debian it
# first installs, as root, whatever of the build and test packages is
# missing (see scripts/packages.sh).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
source "$top/scripts/packages.sh"
ensure_packages "the test suite" "${KRF_BUILD_PACKAGES[@]}" "${KRF_TEST_PACKAGES[@]}"
ensure_cmake_version
cd "$top"
if [ "${1:-}" != --windows ]; then
  cmake --workflow --preset default
  exit 0
fi

# --windows: the tools cross-built for Windows into build-windows/, and the
# suite run with the .exe files under Wine. The Linux tools are built too
# (not tested): the Windows tools' files are compared with theirs.
ensure_packages "the Windows build" "${KRF_WINDOWS_PACKAGES[@]}"
cmake --preset default >/dev/null
cmake --build --preset default --target xkrf picsnap mipsnap texsnap snapback krf_make_samples
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# A Wine prefix of the build's own; no Mono or Gecko installer prompts.
export WINEPREFIX=$top/build-windows/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# One Wine server for the whole suite, so each .exe starts in milliseconds;
# stopped when the suite is done, whatever its result. (One that is still
# running for this prefix is taken as it is.)
"$wineserver" --persistent 2>/dev/null || true
trap '"$wineserver" --kill' EXIT
"$wine" wineboot --init >/dev/null 2>&1 || true
cmake --preset windows
cmake --build --preset windows
ctest --preset windows
