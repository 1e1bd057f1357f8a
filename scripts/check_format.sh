#!/usr/bin/env bash
# Fails, naming the files, when a C++ source of the repository differs from
# what clang-format makes of it with the repository's .clang-format.
#   scripts/check_format.sh          check
#   scripts/check_format.sh --fix    rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || {
  echo "check_format: clang-format is missing (apt-get install clang-format)" >&2
  exit 1
}
mapfile -t files < <(git ls-files '*.cc' '*.h')
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" 2>/dev/null || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "check_format: ${#bad[@]} file(s) differ from clang-format's layout (scripts/check_format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check_format: ${#files[@]} files as clang-format lays them out"
