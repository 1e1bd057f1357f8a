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
cmake --workflow --preset default
