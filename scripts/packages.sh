# Sourced by samples/demo.sh, tests/run.sh and .ci/run:
#   ensure_packages WHAT PACKAGE...
# On Debian, installs with apt-get whichever of the packages is not
# installed yet: only when something is missing, after `apt-get update`, and
# only as root; otherwise names the packages to install and stops the script.
# Elsewhere it trusts that the tools are there (CMake says what it misses).

# What the tools need to build: a compiler, CMake, make, and the image library.
KRF_BUILD_PACKAGES=(g++ cmake make pkg-config libspng-dev)
# What the test suite needs besides: GoogleTest, a second PCX reader, the
# manual page renderer, the Debian package tools, and strace to count the
# system calls of a run.
KRF_TEST_PACKAGES=(libgtest-dev netpbm groff-base dpkg-dev file strace)
# What the Windows build and its tests under Wine need besides: the MinGW-w64
# cross compiler with std::thread, Wine, the MinGW zlib and GoogleTest's
# sources (libspng is compiled from Debian's source package).
KRF_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine64 libz-mingw-w64-dev googletest)

ensure_packages() {
  local what=$1
  shift
  command -v dpkg-query >/dev/null || return 0
  local missing=() p
  for p in "$@"; do
    [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" == "install ok installed" ] ||
      missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "$what needs these packages: ${missing[*]}" >&2
    echo "Install them first: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "== installing ${missing[*]} (for $what)"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Stops with a plain sentence when CMake is missing or older than 3.25.
ensure_cmake_version() {
  local version
  version=$(cmake --version 2>/dev/null | sed -n '1s/^cmake version \([0-9.]*\).*/\1/p')
  if [ -z "$version" ]; then
    echo "CMake 3.25 or newer is needed, and there is no cmake on the PATH." >&2
    exit 1
  fi
  if [ "$(printf '%s\n3.25\n' "$version" | sort -V | head -n1)" != 3.25 ]; then
    echo "CMake 3.25 or newer is needed; this is CMake $version." >&2
    exit 1
  fi
}
