# The measuring helpers of scripts/bench.sh and scripts/bench-large.sh,
# sourced by both. They expect: $work (scratch folder), $runs, and the
# associative arrays ours, peer, unit and failed.

# median of the numbers on stdin
median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) exit 1; if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Milliseconds one run of a command takes; fails with the command.
elapsed_ms() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null 2>"$work/last-error" || return 1
  awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.3f", (e - s) * 1000 }'
}

# record CASE OURS PEER UNIT; an empty value is "not measured"
record() {
  ours[$1]=$2
  peer[$1]=$3
  unit[$1]=$4
}

fail_case() {
  failed[$1]=1
  echo "case $1 failed: $2" >&2
  [ -s "$work/last-error" ] && sed 's/^/  /' "$work/last-error" | head -n 5 >&2
  return 0
}

have() { command -v "$1" >/dev/null; }

progress() { echo "  $1 ($(date +%T))" >&2; }

# Reads ROW lines of a benchmark run (several runs: medians per value),
# recorded under PREFIX+id: collect_rows FILE [PREFIX]
collect_rows() {
  local file=$1 prefix=${2:-} id
  for id in $(awk -F'\t' '$1 == "ROW" { print $2 }' "$file" | sort -u); do
    local o p u
    o=$(awk -F'\t' -v id="$id" '$1 == "ROW" && $2 == id && $3 != "-" { print $3 }' "$file" | median || true)
    p=$(awk -F'\t' -v id="$id" '$1 == "ROW" && $2 == id && $4 != "-" { print $4 }' "$file" | median || true)
    u=$(awk -F'\t' -v id="$id" '$1 == "ROW" && $2 == id { print $5; exit }' "$file")
    record "$prefix$id" "$o" "$p" "$u"
  done
}

# Runs a benchmark binary, keeping its report; ROW lines go to rows-file.
run_bench() {
  local name=$1 rows=$2
  shift 2
  progress "$name"
  echo "== $name" >>"$work/reports.txt"
  if timeout "${bench_timeout:-1800}" "$@" >"$work/bench.out" 2>"$work/last-error"; then
    cat "$work/bench.out" >>"$work/reports.txt"
    grep $'^ROW\t' "$work/bench.out" >>"$rows" || true
  else
    cat "$work/bench.out" >>"$work/reports.txt"
    return 1
  fi
}

# Interleaves our command and the peer's, so that load on the machine hits
# both alike; records the medians in ms. time_pair CASE OURS-FUNCTION [PEER-FUNCTION]
# (each function gets the run number and prints milliseconds).
time_pair() {
  local id=$1 ours_fn=$2 peer_fn=$3 i t
  local -a a=() b=()
  progress "$id"
  for ((i = 0; i < runs; i++)); do
    if t=$($ours_fn "$i"); then a+=("$t"); else fail_case "$id" "$ours_fn"; return 0; fi
    if [ -n "$peer_fn" ]; then
      if t=$($peer_fn "$i"); then b+=("$t"); else fail_case "$id" "$peer_fn"; return 0; fi
    fi
  done
  record "$id" "$(printf '%s\n' "${a[@]}" | median)" \
    "$( ((${#b[@]})) && printf '%s\n' "${b[@]}" | median || true)" ms
}
