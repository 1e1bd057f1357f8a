# shellcheck shell=bash disable=SC2154  # the variables below are run.sh's
# Timing and reporting helpers for run.sh, which sources this file after
# setting run_stat (the timing wrapper), work, results (the folder that holds
# one file of runs per key), table (the Markdown table being built) and reps.

# --- timing -----------------------------------------------------------------

# timed KEY DIR OUTPUT -- COMMAND...: runs COMMAND once in DIR with its
# standard output sent to OUTPUT (a file, or "pipe" to have it read through
# a pipe) and appends "seconds peak-KiB status" to results/KEY. A failed run
# is kept apart, and the command is run once more to show how its output ends.
timed() {
  local key=$1 dir=$2 output=$3 line
  shift 4
  local redirect=(-o "$output")
  [ "$output" = pipe ] && redirect=(-p)
  if line=$("$run_stat" -C "$dir" "${redirect[@]}" -- "$@"); then
    echo "$line" >>"$results/$key"
  else
    echo "$line" >>"$results/$key.failed"
    say "FAILED (status ${line##* }): (cd $dir && $*); its output ends:"
    "$run_stat" -C "$dir" -o "$work/failed.log" -- "$@" >/dev/null || true
    tail -5 "$work/failed.log" >&2 || true
  fi
}

# median KEY COLUMN: the median of column COLUMN (1 seconds, 2 peak KiB) of
# KEY's successful runs; fails when there are none.
median() {
  [ -s "$results/$1" ] || return 1
  awk -v c="$2" '{ print $c }' "$results/$1" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

runs() {
  if [ -s "$results/$1" ]; then wc -l <"$results/$1"; else echo 0; fi
}

fresh_dir() {
  rm -rf "$1"
  mkdir -p "$1"
}

# --- the table ----------------------------------------------------------------

table_start() {
  echo "| Measurement | ours | reference | ratio | target | |" >"$table"
  echo "|---|---|---|---|---|---|" >>"$table"
}

# verdict VALUE OP LIMIT: "met", or "not met" and by how much.
verdict() {
  awk -v v="$1" -v op="$2" -v t="$3" 'BEGIN {
    if (op == "<=" ? v <= t : v >= t) { print "met"; exit }
    if (op == ">=") printf "**not met**: %.0f%% of the target\n", v / t * 100
    else if (v >= 2 * t) printf "**not met**: %.0f× the limit\n", v / t
    else printf "**not met**: %.0f%% over\n", (v / t - 1) * 100
  }'
}

# row_time LABEL KEY_OURS KEY_REFERENCE [LIMIT]: the medians in seconds and
# their ratio, judged against "ratio <= LIMIT" (no LIMIT: no target).
row_time() {
  local label=$1 a=$2 b=$3 limit=${4:-} ma mb ratio
  if ! ma=$(median "$a" 1) || ! mb=$(median "$b" 1); then
    echo "| $label | failed ($(runs "$a") and $(runs "$b") of $reps runs ok) | | | | |" >>"$table"
    return
  fi
  ratio=$(awk -v x="$ma" -v y="$mb" 'BEGIN { printf "%.2f", x / y }')
  if [ -n "$limit" ]; then
    printf '| %s | %.3f s | %.3f s | %s | ≤ %s | %s |\n' "$label" "$ma" "$mb" "$ratio" \
      "$limit" "$(verdict "$ratio" "<=" "$limit")" >>"$table"
  else
    printf '| %s | %.3f s | %.3f s | %s | — | |\n' "$label" "$ma" "$mb" "$ratio" >>"$table"
  fi
}

# row_alone LABEL KEY_OURS WHY [TARGET]: a timing whose reference was not run.
row_alone() {
  local label=$1 a=$2 why=$3 target=${4:-—} ma
  if ma=$(median "$a" 1); then
    printf '| %s | %.3f s | %s | — | %s | not judged |\n' "$label" "$ma" "$why" "$target" >>"$table"
  else
    echo "| $label | failed | $why | | $target | |" >>"$table"
  fi
}

# row_bytes LABEL BYTES_OURS BYTES_REFERENCE LIMIT: two sizes and their
# ratio, judged against "ratio <= LIMIT".
row_bytes() {
  local ratio
  if [ -z "$2" ] || [ -z "$3" ] || [ "$3" = 0 ]; then
    echo "| $1 | failed | | | | |" >>"$table"
    return
  fi
  ratio=$(awk -v x="$2" -v y="$3" 'BEGIN { printf "%.2f", x / y }')
  awk -v l="$1" -v x="$2" -v y="$3" -v r="$ratio" -v t="$4" -v v="$(verdict "$ratio" "<=" "$4")" \
    'BEGIN { printf "| %s | %.1f MiB | %.1f MiB | %s | ≤ %s | %s |\n", l, x / 1048576, y / 1048576, r, t, v }' \
    >>"$table"
}

# row_rss LABEL KEY_OURS KEY_REFERENCE|- LIMIT_MIB: the medians of the peak
# resident memory, ours judged against LIMIT_MIB.
row_rss() {
  local label=$1 a=$2 b=$3 limit=$4 ma mb="—" ratio="—"
  if ! ma=$(median "$a" 2); then
    echo "| $label | failed | | | | |" >>"$table"
    return
  fi
  ma=$(awk -v k="$ma" 'BEGIN { printf "%.1f", k / 1024 }')
  if [ "$b" != - ] && mb=$(median "$b" 2); then
    ratio=$(awk -v x="$ma" -v k="$mb" 'BEGIN { printf "%.1f", x * 1024 / k }')
    mb=$(awk -v k="$mb" 'BEGIN { printf "%.1f MiB", k / 1024 }')
  fi
  printf '| %s | %s MiB | %s | %s | ≤ %s MiB | %s |\n' "$label" "$ma" "$mb" "$ratio" "$limit" \
    "$(verdict "$ma" "<=" "$limit")" >>"$table"
}

# --- the codec benchmark's results ------------------------------------------

# codec_rate NAME: MB/s (10^6 bytes a second) of the benchmark's median, or
# of its only run when there was one repetition, from results/codec.csv.
codec_rate() {
  awk -F, -v median="\"$1_median\"" -v single="\"$1\"" '
    $1 == "name" { for (i = 1; i <= NF; ++i) if ($i == "bytes_per_second") col = i; next }
    col && ($1 == median || $1 == single) && $col != "" { rate = $col / 1e6; found = 1 }
    END { if (found) printf "%.0f", rate; exit !found }' "$results/codec.csv" 2>/dev/null
}

# row_codec OP KIND PATH [TARGET]: mixed_ on the code path PATH against the
# byte-at-a-time code, judged on the speed-up reaching TARGET when given.
row_codec() {
  local op=$1 kind=$2 path=$3 target=${4:-} ours ref ratio function
  case $op in
    Scan) function=mixed_DecodedRLESize ;;
    *) function=mixed_${op}RLE ;;
  esac
  local label="codec: $function on $kind data, $path path"
  if ours=$(codec_rate "BM_${op}Mixed/$kind/$path") && ref=$(codec_rate "BM_${op}Reference/$kind"); then
    ratio=$(awk -v x="$ours" -v y="$ref" 'BEGIN { printf "%.2f", x / y }')
    if [ -n "$target" ]; then
      printf '| %s | %s MB/s | %s MB/s | %s | ≥ %s | %s |\n' "$label" "$ours" "$ref" "$ratio" \
        "$target" "$(verdict "$ratio" ">=" "$target")" >>"$table"
    else
      printf '| %s | %s MB/s | %s MB/s | %s | — | |\n' "$label" "$ours" "$ref" "$ratio" >>"$table"
    fi
  else
    echo "| $label | failed | | | | |" >>"$table"
  fi
}
