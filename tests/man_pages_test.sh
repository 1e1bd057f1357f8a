#!/usr/bin/env bash
# Checks the manual pages against the sources they document:
#   man_pages_test.sh SOURCE_DIR PROJECT_VERSION
# Each page must render without a groff warning, carry the usual sections and
# the project's version, list exactly the exit statuses its tool defines, and
# document every command-line switch (xkrf: every word of the switch table)
# or argument (converters: as many as the tool reads).
# Without groff the test is skipped (status 77) on a developer's machine but
# fails under CI, where .ci/run installs it.
set -uo pipefail

src=$1
version=$2
source "$(dirname "${BASH_SOURCE[0]}")/install_support.sh" || exit 1
require groff-base groff

# The page as plain text: no colours, bold or underline.
render() { groff -man -Tascii -P-cbou "$1" 2>/dev/null; }

# The lines of one section of a rendered page, up to the next heading.
section() {
  awk -v want="$2" '$0 == want { on = 1; next } /^[A-Z][A-Z ]*$/ { on = 0 } on' <<<"$1"
}

# Whether the section holds a tagged paragraph (.TP) whose tag is $3.
has_tag() {
  section "$1" "$2" | awk -v tag="$3" '
    substr($0, 1, 7) == "       " && substr($0, 8, 1) != " " {
      split(substr($0, 8), word, " ")
      if (word[1] == tag) found = 1
    }
    END { exit !found }'
}

# The values of the `inline constexpr int kExit... = N;` constants in a header.
exit_codes() {
  sed -nE 's/^inline constexpr int kExit[A-Za-z]+ = ([0-9]+);.*/\1/p' "$1" | sort -u
}

# The exit statuses a page lists: the numeric tags of its EXIT STATUS section.
page_codes() {
  section "$1" "EXIT STATUS" | sed -nE 's/^ {7}([0-9]+)( .*)?$/\1/p' | sort -u
}

# The highest argv index a tool's source reads: how many arguments it takes.
argument_count() {
  grep -ohE 'argv\[[0-9]+\]' "$@" | tr -dc '0-9\n' | sort -n | tail -n 1
}

# Checks what every page needs and leaves its plain text in page_text.
check_page() {
  local tool=$1 page=$src/man/$1.1 text warnings
  page_text=""
  if [ ! -f "$page" ]; then
    fail "$tool: man/$tool.1 is missing"
    return 1
  fi
  warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
  [ $? -eq 0 ] && [ -z "$warnings" ] || fail "$tool: groff reports: $warnings"

  text=$(render "$page")
  for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES "SEE ALSO"; do
    grep -qx "$heading" <<<"$text" || fail "$tool: no $heading section"
  done
  section "$text" NAME | grep -qE "^ +$tool +- " || fail "$tool: NAME does not start with '$tool - '"
  grep -qE "^\.TH ${tool^^} 1 .*\"krftools ${version//./\\.}\"" "$page" ||
    fail "$tool: the .TH line does not name krftools $version"
  page_text=$text
}

check_exit_codes() {
  local tool=$1 text=$2 header=$3 want have
  want=$(exit_codes "$header")
  have=$(page_codes "$text")
  [ -n "$want" ] || fail "$tool: no exit status constants found in $header"
  [ "$want" == "$have" ] ||
    fail "$tool: EXIT STATUS lists [$(echo $have)], the code defines [$(echo $want)]"
}

# xkrf: every word of the switch table is documented as -word under OPTIONS,
# and the page quotes the usage line exactly as the tool prints it.
check_xkrf() {
  local text=$1 cli=$src/utils/xkrf/cli.cc words usage
  words=$(sed -n '/kSwitches\[\] = {/,/^};/p' "$cli" | sed -nE 's/^ *\{"([^"]*)",.*/\1/p')
  if [ -z "$words" ] || ! grep -qx add <<<"$words"; then
    fail "xkrf: could not read the switch table from utils/xkrf/cli.cc"
  fi
  for word in $words; do
    has_tag "$text" OPTIONS "-$word" || fail "xkrf: switch -$word is not documented under OPTIONS"
    grep -qE -- "(^|[^a-z-])-$word([^a-z]|\$)" <<<"$(section "$text" SYNOPSIS)" ||
      fail "xkrf: switch -$word is missing from the SYNOPSIS"
  done
  usage=$(sed -nE 's/^ *"(Usage: [^"]*)\\n\\n";$/\1/p' "$cli")
  [ -n "$usage" ] || fail "xkrf: could not read the usage line from utils/xkrf/cli.cc"
  grep -qF -- "$usage" <<<"$text" || fail "xkrf: the page does not quote the usage line '$usage'"
  check_exit_codes xkrf "$text" "$src/utils/about/exit_status.h"
}

# A converter: the synopsis names its arguments (as many as its source
# reads) and its switches, then the --help | --version line; OPTIONS
# describes each of them.
check_converter() {
  local tool=$1 text=$2 synopsis=$3 synopsis_text count given
  synopsis_text=$(section "$text" SYNOPSIS | tr -s ' ' | sed 's/^ //')
  [ "$synopsis_text" == "$synopsis"$'\n'"$tool --help | --version" ] ||
    fail "$tool: SYNOPSIS reads '$synopsis_text', expected '$synopsis' and the --help line"
  count=$(argument_count "$src/utils/$tool"/*.cc)
  given=0
  for arg in $(sed -E 's/^[a-z]+//; s/[][]/ /g' <<<"$synopsis") --help --version; do
    [[ $arg == -* ]] || given=$((given + 1))
    has_tag "$text" OPTIONS "$arg" || fail "$tool: $arg is not described under OPTIONS"
  done
  [ "$given" == "$count" ] ||
    fail "$tool: the page names $given arguments, the source reads argv up to [$count]"
  check_exit_codes "$tool" "$text" "$src/utils/about/exit_status.h"
}

check_page xkrf && check_xkrf "$page_text"
check_page picsnap && check_converter picsnap "$page_text" "picsnap name [-png]"
check_page mipsnap && check_converter mipsnap "$page_text" "mipsnap wadfile [prefix] [-png]"
check_page texsnap && check_converter texsnap "$page_text" "texsnap [prefix] [-png]"

finish "manual page" "manual pages: all checks passed"
