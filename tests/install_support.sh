# Shared by the install, package and manual page checks (sourced, not run).
# Every check reports with `fail` and goes on, so one run shows every
# problem; `finish` then ends the script with the verdict.

# The tools this kit installs, each with a manual page man/<tool>.1
# (installed gzipped), and those with a bash completion completion/<tool>.
tools=(xkrf picsnap mipsnap texsnap snapback)
completions=(xkrf snapback)

# The files an installation holds below its prefix, one per line, sorted.
expected_files() {
  local t
  for t in "${tools[@]}"; do echo "bin/$t"; echo "share/man/man1/$t.1.gz"; done
  for t in "${completions[@]}"; do echo "share/bash-completion/completions/$t"; done
  echo share/doc/krftools/changelog.gz
  echo share/doc/krftools/copyright
}

# check_installed ROOT SOURCE_DIR: the pages and completions below ROOT are
# the source tree's.
check_installed() {
  local root=$1 src=$2 t
  for t in "${tools[@]}"; do
    zcat "$root/share/man/man1/$t.1.gz" | cmp -s "$src/man/$t.1" - ||
      fail "share/man/man1/$t.1.gz differs from man/$t.1"
  done
  for t in "${completions[@]}"; do
    cmp -s "$src/completion/$t" "$root/share/bash-completion/completions/$t" ||
      fail "the installed completion of $t differs from completion/$t"
  done
}
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# require WHY COMMAND...: ends the script when a command is missing, with
# status 77 (skipped) on a developer's machine, and as a failure under CI,
# whose .ci/run installs WHY.
require() {
  local why=$1 missing=() need
  shift
  for need in "$@"; do
    command -v "$need" >/dev/null || missing+=("$need")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ -n "${CI:-}" ]; then
    echo "FAIL: missing ${missing[*]} (.ci/run installs $why)"
    exit 1
  fi
  echo "missing ${missing[*]}: skipped"
  exit 77
}

# finish WHAT SUCCESS: the exit status and the closing line.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures $1 check(s) failed"
    exit 1
  fi
  echo "$2"
  exit 0
}
