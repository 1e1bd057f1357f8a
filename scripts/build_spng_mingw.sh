#!/usr/bin/env bash
# Builds libspng for the Windows cross build: Debian ships zlib for MinGW-w64
# (libz-mingw-w64-dev) but no libspng, so this takes Debian's own source
# package of it and compiles it with the cross compiler into a static
# library.
#   scripts/build_spng_mingw.sh PREFIX
# installs PREFIX/include/spng.h and PREFIX/lib/libspng.a. The source comes
# through a private apt setup under PREFIX (a deb-src line for the mirror the
# machine already uses), so neither root nor a change to the system's apt
# configuration is needed.
set -euo pipefail
prefix=$1
[ -f "$prefix/lib/libspng.a" ] && [ -f "$prefix/include/spng.h" ] && exit 0
cc=${KRF_MINGW_CC:-x86_64-w64-mingw32-gcc-posix}
ar=${KRF_MINGW_AR:-x86_64-w64-mingw32-ar}

work="$prefix/src"
rm -rf "$work"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$prefix/include" "$prefix/lib"

# The first Debian mirror and suite the machine's apt sources name (deb822 or
# one-line format), as a deb-src line.
mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' 2>/dev/null |
  awk '$1 ~ /debian\/?$/ && $2 !~ /-(updates|security|backports)$/ {print; exit}')
if [ -z "$mirror" ]; then
  echo "build_spng_mingw: no Debian mirror found in the apt sources" >&2
  exit 1
fi
echo "deb-src ${mirror% *} ${mirror#* } main" >"$work/apt/sources.list"

apt_opts=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o "Dir::Etc::SourceParts=-"
  -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache"
  -o "Debug::NoLocking=1" -o "APT::Sandbox::User=$(id -un)")
apt-get "${apt_opts[@]}" -qq update
# apt checked the files against the signed Sources index it fetched, so
# dpkg-source need not find the uploader's key.
(cd "$work" && apt-get "${apt_opts[@]}" -qq source --download-only libspng >/dev/null &&
  dpkg-source --no-check -x libspng_*.dsc libspng >/dev/null)

src="$work/libspng/spng"
# One C file; SPNG_STATIC so that nothing is declared dllimport.
"$cc" -O2 -DSPNG_STATIC -c "$src/spng.c" -o "$work/spng.o"
rm -f "$prefix/lib/libspng.a"
"$ar" rcs "$prefix/lib/libspng.a" "$work/spng.o"
cp "$src/spng.h" "$prefix/include/spng.h"
echo "libspng for MinGW-w64 in $prefix"
