#!/usr/bin/env bash
# The benchmark suite in one command: builds Release with the benchmarks,
# writes the seeded corpus into a temporary folder, times every case against
# its peer and prints a table of medians and ratios.
#
#   scripts/bench.sh [--smoke] [--runs N] [--seed N] [--build DIR] [--no-build]
#   scripts/bench.sh --large [--runs N] [--seed N] [--build DIR] [--no-build]
#
# --large: 100,000 sheets in 20 groups instead (scripts/bench-large.sh).
# --smoke: a tiny corpus, one run of each case and no verdicts; checks that
# the suite works end to end. Peers are then used when present, never
# installed. Without --smoke the peers (ripgrep, rsync, cmark-gfm, pandoc)
# and faketime are installed with apt-get when missing.
#
# Exit status: 0 every case measured (and, without --smoke, every target
# met), 1 a case could not be measured, 3 a target was missed. --no-build
# takes the programs in the build folder as they are.
set -euo pipefail
# The whole script is one block, read before it runs: a run takes minutes, and
# bash would otherwise read on from the file as it is changed meanwhile.
{
cd "$(dirname "$0")/.."
repo=$(pwd)
# The scale run is a suite of its own.
for arg in "$@"; do [ "$arg" = --large ] && exec scripts/bench-large.sh "$@"; done

smoke=0
compile=1
runs=5
seed=1
build=${ORVIK_BENCH_BUILD:-build/bench}
while [ $# -gt 0 ]; do
  case $1 in
    --smoke) smoke=1; runs=1 ;;
    --runs) runs=$2; shift ;;
    --seed) seed=$2; shift ;;
    --build) build=$2; shift ;;
    --no-build) compile=0 ;;
    *) echo "usage: scripts/bench.sh [--smoke] [--runs N] [--seed N] [--build DIR] [--no-build]" >&2; exit 2 ;;
  esac
  shift
done
case $build in /*) ;; *) build=$repo/$build ;; esac

# ---- peers and build -------------------------------------------------------

tool_package() {
  case $1 in rg) echo ripgrep ;; *) echo "$1" ;; esac
}
missing=()
for tool in rg rsync cmark-gfm pandoc faketime ghostwriter; do
  command -v "$tool" >/dev/null || missing+=("$(tool_package "$tool")")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ $smoke -eq 1 ]; then
    echo "smoke run without: ${missing[*]} (their columns stay empty)" >&2
  else
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo=sudo
    echo "installing ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq >/dev/null
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi

if [ $compile -eq 1 ]; then
  scripts/setup.sh
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVIK_BENCH=ON -DBUILD_TESTING=OFF \
    "${launcher[@]}" >/dev/null
  cmake --build "$build" --target orvik orvik_bench_corpus bench_search bench_markdown bench_editor \
    bench_history bench_burst bench_peer
fi

orvik=$build/orvik
[ -x "$orvik" ] || orvik=$(find "$build" -name orvik -type f -perm -u+x | head -n 1)
corpus_tool=$build/bench/corpus/orvik_bench_corpus
bench_search=$build/bench/search/bench_search
bench_markdown=$build/bench/markdown/bench_markdown
bench_editor=$build/bench/editor/bench_editor
bench_history=$build/bench/history/bench_history
bench_burst=$build/bench/window/bench_burst
bench_peer=$build/bench/window/bench_peer

# ---- a sealed-off home and the corpus --------------------------------------

work=$(mktemp -d "${TMPDIR:-/tmp}/orvik-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
export HOME=$work/home
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
export XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
mkdir -p "$HOME" "$work/out"
mkdir -m 700 "$XDG_RUNTIME_DIR"

corpus_args=(--out "$work/corpus" --seed "$seed")
[ $smoke -eq 1 ] && corpus_args+=(--small)
started=$EPOCHREALTIME
"$corpus_tool" "${corpus_args[@]}" >"$work/corpus.txt"
library=$(awk -F'\t' '$1 == "LIBRARY" { print $2 }' "$work/corpus.txt")
library_mb=$(awk -F'\t' '$1 == "LIBRARY" { printf "%.1f", $3 / 1048576 }' "$work/corpus.txt")
library_sheets=$(awk -F'\t' '$1 == "LIBRARY" { print $4 }' "$work/corpus.txt")
big_group=$(awk -F'\t' '$1 == "GROUP" { print $2; exit }' "$work/corpus.txt")
big_count=$(awk -F'\t' '$1 == "GROUP" { print $3; exit }' "$work/corpus.txt")
mapfile -t singles < <(awk -F'\t' '$1 == "SINGLE" { print $2 }' "$work/corpus.txt")
size_label() { awk -v b="$(stat -c %s "$1")" 'BEGIN { if (b >= 1048576) printf "%.0f MB", b / 1048576; else printf "%.0f KB", b / 1024 }'; }
medium=${singles[1]}
large=${singles[2]}
echo "corpus: $library_sheets sheets, $library_mb MB, big group $big_group ($big_count), singles" \
  "$(size_label "${singles[0]}"), $(size_label "$medium"), $(size_label "$large"); seed $seed" \
  "($(awk -v s="$started" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.1f", e - s }') s)"

# ---- measuring -------------------------------------------------------------

declare -A ours peer unit failed
notes=()

# shellcheck source=scripts/bench-common.sh
source scripts/bench-common.sh

bench_timeout=$([ $smoke -eq 1 ] && echo 120 || echo 1800)
: >"$work/reports.txt"

echo "running the cases ($runs run(s) each) ..."

# -- listing a group
list_ours() { elapsed_ms "$orvik" --library "$library" sheets "$big_group"; }
list_peer() { elapsed_ms sh -c 'cat "$1"/*.md' sh "$library/$big_group"; }
list_ours 0 >/dev/null || true # the page cache, for both
time_pair sheets-big list_ours list_peer

# -- search, in process; each run a fresh process for the cold figure
search_rows=$work/search.rows
: >"$search_rows"
search_args=(--corpus "$library")
have rg && search_args+=(--rg)
search_runs=$((smoke ? 1 : 5))
for ((i = 0; i < search_runs; i++)); do
  run_bench search "$search_rows" "$bench_search" "${search_args[@]}" || {
    fail_case search-cold bench_search; fail_case search-warm bench_search; fail_case search-memory bench_search
    fail_case search-warm-index bench_search; break; }
done
collect_rows "$search_rows"

# -- search in fresh processes: `orvik search` against rg on the same folder,
# with the library's index present (written by a first search, whose writer is
# waited for) and without one (each run a cache folder of its own; its writer,
# which runs after the answer, is waited for outside the timing). A rare word
# and a phrase of two common words with thousands of hits.
rare_query=Xylophon
phrase_query="der Garten"
# rg's status is 1 when it finds nothing.
rg_count() { rg -i -F -c "$1" "$library"; [ $? -le 1 ]; }
# Waits for the index writer a search in cache folder $1 may have left running.
wait_writer() {
  local lock
  for lock in "$1"/Orvik/search-*.index.lock; do [ -e "$lock" ] && flock "$lock" true; done
  return 0
}
cli_search() { elapsed_ms "$orvik" --library "$library" search "$1"; }
index_rare_ours() { cli_search "$rare_query"; }
index_phrase_ours() { cli_search "$phrase_query"; }
rare_peer() { elapsed_ms rg_count "$rare_query"; }
phrase_peer() { elapsed_ms rg_count "$phrase_query"; }
noindex_rare_ours() {
  local cache=$work/noindex-$1 t
  t=$(XDG_CACHE_HOME=$cache cli_search "$rare_query") || return 1
  wait_writer "$cache"
  rm -rf "$cache"
  echo "$t"
}
if "$orvik" --library "$library" search "$rare_query" >/dev/null 2>"$work/last-error"; then
  wait_writer "$XDG_CACHE_HOME"
  time_pair search-index-rare index_rare_ours "$(have rg && echo rare_peer)"
  time_pair search-index-phrase index_phrase_ours "$(have rg && echo phrase_peer)"
  time_pair search-noindex-rare noindex_rare_ours "$(have rg && echo rare_peer)"
  index_mb=$(du -cb "$XDG_CACHE_HOME"/Orvik/search-*.index | awk 'END { printf "%.1f", $1 / 1048576 }')
  phrase_hits=$("$orvik" --library "$library" search "$phrase_query" --json | grep -c '"path"' || true)
  notes+=("- Search in fresh processes: orvik search QUERY against rg -i -F -c QUERY LIBRARY, rare word \"$rare_query\", phrase \"$phrase_query\" ($phrase_hits sheets); the index is $index_mb MB for $library_mb MB of sheets. Without index: an empty cache folder each run; the index writer left behind by the answer is waited for outside the timing.")
else
  for id in search-index-rare search-index-phrase search-noindex-rare; do fail_case $id "first search"; done
fi

# -- the editor, offscreen
editor_rows=$work/editor.rows
: >"$editor_rows"
editor_args=(--file1 "$medium" --file5 "$large")
[ $smoke -eq 1 ] && editor_args+=(--keys 40 --runs 2 --shape-scale 0.0625)
run_bench editor "$editor_rows" "$bench_editor" "${editor_args[@]}" || {
  for id in editor-open-1mb editor-type-1mb editor-type-5mb editor-modes-1mb editor-fence-1mb \
    pause-letters-8mb pause-nul-8mb pause-words-8mb pause-datauri-5mb pause-nul-100mb; do
    fail_case $id bench_editor
  done; }
collect_rows "$editor_rows"

# -- the editor under a real X server: the rows above on xcb, and the whole
# program against ghostwriter, each started on the same sheet, then typed into
xvfb_pid=
display_file=$work/display
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
if [ -s "$display_file" ]; then
  x_display=:$(head -n 1 "$display_file")
  xcb_rows=$work/editor-xcb.rows
  : >"$xcb_rows"
  DISPLAY=$x_display QT_QPA_PLATFORM=xcb run_bench editor-xcb "$work/editor-xcb.raw" "$bench_editor" \
    "${editor_args[@]}" --no-shapes || {
    for id in editor-open-1mb editor-type-1mb editor-type-5mb editor-modes-1mb editor-fence-1mb; do
      fail_case $id-xcb bench_editor
    done; }
  sed 's/^ROW\t\([^\t]*\)/ROW\t\1-xcb/' "$work/editor-xcb.raw" >"$xcb_rows" 2>/dev/null || true
  collect_rows "$xcb_rows"

  # One run: a fresh copy of the sheet in a library of its own (Orvik) and
  # beside it (ghostwriter); the caret put halfway up from the end.
  peer_rows=$work/peer.rows
  : >"$peer_rows"
  peer_args=(--chars 300 --cps 20)
  [ $smoke -eq 1 ] && peer_args=(--chars 20 --cps 40 --settle 800)
  peer_run() { # peer_run WHO SIZE SHEET RUN
    local lib=$work/peerlib/$1-$4 pages
    rm -rf "$lib" && mkdir -p "$lib/Ideen" && cp "$3" "$lib/Ideen/blatt.md"
    pages=$(($(wc -l <"$3") / 70))
    if [ "$1" = orvik ]; then
      DISPLAY=$x_display QT_QPA_PLATFORM=xcb run_bench "orvik $2" "$peer_rows" "$bench_peer" \
        --case "peer-$2" "${peer_args[@]}" --pages $pages -- "$orvik" --library "$lib" "$lib/Ideen/blatt.md"
    else
      DISPLAY=$x_display QT_QPA_PLATFORM=xcb QTWEBENGINE_DISABLE_SANDBOX=1 run_bench "ghostwriter $2" \
        "$work/ghostwriter.raw" "$bench_peer" --case "peer-$2" "${peer_args[@]}" --pages $pages -- \
        ghostwriter "$lib/Ideen/blatt.md" &&
        awk -F'\t' -v OFS='\t' '$1 == "ROW" { $4 = $3; $3 = "-" } { print }' "$work/ghostwriter.raw" \
          >>"$peer_rows"
      : >"$work/ghostwriter.raw"
    fi
    rm -rf "$lib"
  }
  for size in 1mb 5mb; do
    sheet=$medium
    [ $size = 5mb ] && sheet=$large
    for ((i = 0; i < (smoke ? 1 : 3); i++)); do
      peer_run orvik $size "$sheet" $i || { fail_case "peer-$size-shown" bench_peer; fail_case "peer-$size-cpu" bench_peer; }
      if have ghostwriter; then
        peer_run ghostwriter $size "$sheet" $i || notes+=("ghostwriter $size run $i failed")
      fi
    done
  done
  collect_rows "$peer_rows"
else
  for id in editor-open-1mb-xcb editor-type-1mb-xcb editor-type-5mb-xcb peer-1mb-shown peer-1mb-cpu \
    peer-5mb-shown peer-5mb-cpu; do
    fail_case $id Xvfb
  done
fi
kill $xvfb_pid 2>/dev/null || true

# -- a sync engine bringing 1,000 sheets into the shown group within 2 s, then
# taking them away, while the writer types
burst_rows=$work/burst.rows
: >"$burst_rows"
burst_args=(--files 1000 --seconds 2 --runs 3)
[ $smoke -eq 1 ] && burst_args=(--files 100 --seconds 0.5 --runs 1)
run_bench burst "$burst_rows" "$bench_burst" "${burst_args[@]}" || {
  for id in burst-add burst-remove burst-add-steps burst-remove-steps; do
    fail_case $id bench_burst
  done; }
collect_rows "$burst_rows"

# -- Markdown to HTML
md_rows=$work/markdown.rows
: >"$md_rows"
md_args=(--runs "$((smoke ? 3 : 7))")
have cmark-gfm && md_args+=(--cmark)
run_bench markdown "$md_rows" "$bench_markdown" --file "$medium" --case md-html-1mb "${md_args[@]}" ||
  fail_case md-html-1mb bench_markdown
run_bench markdown "$md_rows" "$bench_markdown" --file "$large" --case md-html-5mb "${md_args[@]}" ||
  fail_case md-html-5mb bench_markdown
collect_rows "$md_rows"

# -- exports of the 1 MB sheet, each to a new file
# A run counts only when it left a file behind.
docx_ours() { elapsed_ms "$orvik" --library "$library" export "$medium" --format docx -o "$work/out/o$1.docx" && [ -s "$work/out/o$1.docx" ]; }
docx_peer() { elapsed_ms pandoc -o "$work/out/p$1.docx" "$medium" && [ -s "$work/out/p$1.docx" ]; }
pdf_ours() { elapsed_ms "$orvik" --library "$library" export "$medium" --format pdf -o "$work/out/o$1.pdf" && [ -s "$work/out/o$1.pdf" ]; }
time_pair export-docx docx_ours "$(have pandoc && echo docx_peer)"
time_pair export-pdf pdf_ours ""

# -- backups; each in its own backup root below a data folder of its own
backup_root() { echo "$work/backups/$1/Orvik/Backups"; }
run_backup() { XDG_DATA_HOME=$work/backups/$1 elapsed_ms "$orvik" --library "$library" backup; }
snapshot_folders() { find "$1" -mindepth 1 -maxdepth 1 -type d -name '[0-9][0-9][0-9][0-9]-*' 2>/dev/null || true; }
snapshots_in() { snapshot_folders "$1" | wc -l; }

# Each starts with the disk settled: the writeback of the copy before would
# otherwise land in the next one's time, whoever's it is.
first_ours() {
  rm -rf "$work/backups/first"
  sync
  run_backup first
}
first_peer() {
  rm -rf "$work/copy"
  sync
  elapsed_ms cp -r "$library" "$work/copy"
}
time_pair backup-first first_ours first_peer
if [ -z "${failed[backup-first]:-}" ] && [ "$(snapshots_in "$(backup_root first)")" -ne 1 ]; then
  fail_case backup-first "no snapshot made"
fi
rm -rf "$work/copy" "$work/backups/first"

if run_backup base >/dev/null && [ "$(snapshots_in "$(backup_root base)")" -eq 1 ]; then
  base_snapshot=$(snapshot_folders "$(backup_root base)")
  unchanged_ours() { run_backup base; }
  unchanged_peer() { elapsed_ms rsync -an "$library/" "$base_snapshot/"; }
  time_pair backup-unchanged unchanged_ours "$(have rsync && echo unchanged_peer)"
  # Nothing changed, so nothing may have been made.
  if [ "$(snapshots_in "$(backup_root base)")" -ne 1 ]; then
    fail_case backup-unchanged "a snapshot was made although nothing changed"
  fi
else
  fail_case backup-unchanged "the first snapshot failed"
fi
rm -rf "$work/backups/base"

# -- hourly snapshots, one sheet changed before each; faketime sets the hour,
# since snapshots within one clock hour are thinned to the newest. Tomorrow,
# so that no changed sheet lies in the future of the clock.
hours=$((smoke ? 4 : 24))
progress "backup-24h"
if have faketime; then
  mapfile -t changed < <(find "$library" -name '*.md' | sort | head -n "$hours")
  day=$(date -d tomorrow +%F)
  for ((h = 0; h < hours; h++)); do
    printf '\nNachtrag um %02d Uhr: Grüße aus der Küche.\n' "$h" >>"${changed[h % ${#changed[@]}]}"
    # NO_FAKE_STAT: faked file times would differ by each run's hour, so no
    # sheet would ever match (and link to) its previous snapshot's file.
    if ! XDG_DATA_HOME=$work/backups/hourly NO_FAKE_STAT=1 FAKETIME_DONT_FAKE_MONOTONIC=1 \
      faketime "$(printf '%s %02d:00:00' "$day" "$h")" \
      "$orvik" --library "$library" backup >/dev/null 2>"$work/last-error"; then
      fail_case backup-24h "snapshot $h"
      break
    fi
    # Something changed, so this hour must have its snapshot.
    if ! compgen -G "$(backup_root hourly)/$day-$(printf %02d "$h")*" >/dev/null; then
      : >"$work/last-error"
      fail_case backup-24h "no snapshot for hour $h"
      break
    fi
  done
  if [ -z "${failed[backup-24h]:-}" ]; then
    kept=$(snapshots_in "$(backup_root hourly)")
    record backup-24h \
      "$(du -sk "$(backup_root hourly)" | awk '{ printf "%.3f", $1 / 1024 }')" \
      "$(du -sk "$library" | awk '{ printf "%.3f", $1 / 1024 }')" MB
    notes+=("- Hourly snapshots: du -sk of the backup folder after $hours runs an hour apart on the clock (faketime), against du -sk of the library; $kept of them remain after thinning (newest per hour within 12 h, per day beyond).")
  fi
else
  echo "faketime missing: hourly snapshots not measured" >&2
fi

# -- a sheet's history across 500 snapshots. Each snapshot holds only that
# sheet, hard-linked to the one before as the backup links an unchanged sheet:
# the history reads nothing else. Every 50th has a new text; every 50th,
# offset by 25, an equal copy that is not linked, which must be read to be
# told apart.
history_snapshots=$((smoke ? 50 : 500))
history_root=$work/backups/history/Orvik/Backups
history_sheet=$(find "$library/$big_group" -name '*.md' | sort | awk 'NR == 1')
history_relative=${history_sheet#"$library"/}
mkdir -p "$history_root"
previous=""
for ((i = 0; i < history_snapshots; i++)); do
  printf -v stamp '%(%Y-%m-%d-%H%M%S)T' $((1767225600 + i * 3600))
  file=$history_root/$stamp/$history_relative
  mkdir -p "$(dirname "$file")"
  if ((i % 50 == 0)); then
    { cat "$history_sheet"; printf '\nFassung %d\n' "$i"; } >"$file"
  elif ((i % 50 == 25)); then
    cp -p "$previous" "$file"
  else
    ln "$previous" "$file"
  fi
  previous=$file
done
history_ours() { XDG_DATA_HOME=$work/backups/history elapsed_ms "$orvik" --library "$library" history "$history_sheet" --json; }
time_pair history-500 history_ours ""
notes+=("- History: orvik history --json of one sheet across $history_snapshots snapshot folders that hold only that sheet, hard-linked from one to the next, a new text in every 50th.")
history_versions=$(XDG_DATA_HOME=$work/backups/history "$orvik" --library "$library" history "$history_sheet" --json 2>"$work/last-error" | grep -c '"snapshot"' || true)
if [ -z "${failed[history-500]:-}" ] && [ "$history_versions" -ne $((history_snapshots / 50)) ]; then
  fail_case history-500 "$history_versions versions listed, $((history_snapshots / 50)) expected"
fi
rm -rf "$work/backups/history"

# -- the word diff a sheet's history shows, the 1 MB sheet against a previous
# version with edits spread over it
worddiff_rows=$work/worddiff.rows
: >"$worddiff_rows"
run_bench worddiff "$worddiff_rows" "$bench_history" --file "$medium" --case worddiff-1mb \
  --runs "$((smoke ? 1 : 5))" || fail_case worddiff-1mb bench_history
collect_rows "$worddiff_rows"

# ---- the table -------------------------------------------------------------

#   id | description | peer | kind (le: ratio at most, ge: ratio at least, abs: our value at most) | target
cases=(
  "sheets-big|list the $big_count-sheet group (orvik sheets)|cat of its files|le|3"
  "search-cold|library search, cold (fresh process)|rg -i -F -c|le|1.5"
  "search-warm|library search, warm (20 queries, mean)|rg -i -F -c|le|0.5"
  "search-warm-index|library search, warm from the index (window)|rg -i -F -c|le|0.5"
  "search-memory|search memory (peak RSS, MB)|corpus size|le|3"
  "search-index-rare|search a rare word, fresh process, with index|rg -i -F -c|le|0.6"
  "search-index-phrase|search a phrase, thousands of hits, with index|rg -i -F -c|le|1.0"
  "search-noindex-rare|search a rare word, fresh process, no index|rg -i -F -c|le|1.5"
  "editor-open-1mb|open the $(size_label "$medium") sheet|QPlainTextEdit|le|3"
  "editor-type-1mb|typing, $(size_label "$medium") sheet (per key)|QPlainTextEdit|le|1.5"
  "editor-type-5mb|typing, $(size_label "$large") sheet (per key)|QPlainTextEdit|le|1.5"
  "editor-modes-1mb|typing, $(size_label "$medium") sheet, focus and typewriter modes, outline and preview|the editor alone|le|1.3"
  "editor-open-1mb-xcb|open the $(size_label "$medium") sheet, on X (xcb)|QPlainTextEdit|le|3"
  "editor-type-1mb-xcb|typing, $(size_label "$medium") sheet (per key), on X|QPlainTextEdit|le|1.5"
  "editor-type-5mb-xcb|typing, $(size_label "$large") sheet (per key), on X|QPlainTextEdit|le|1.5"
  "editor-modes-1mb-xcb|typing with all modes and panels, $(size_label "$medium"), on X|the editor alone|le|1.3"
  "peer-1mb-shown|start to the $(size_label "$medium") sheet shown, on X|ghostwriter|le|0.5"
  "peer-5mb-shown|start to the $(size_label "$large") sheet shown, on X|ghostwriter|le|0.5"
  "peer-1mb-cpu|CPU per typed character, $(size_label "$medium") sheet, on X|ghostwriter|le|0.5"
  "peer-5mb-cpu|CPU per typed character, $(size_label "$large") sheet, on X|ghostwriter|le|0.5"
  "editor-fence-1mb|fence at top of $(size_label "$medium"), restyled|-|abs|20"
  "pause-letters-8mb|longest pause, 8 MB line of letters|-|abs|100"
  "pause-nul-8mb|longest pause, 8 MB of NUL|-|abs|100"
  "pause-words-8mb|longest pause, 8 MB line of words|-|abs|100"
  "pause-datauri-5mb|longest pause, note with 5 MB data URI|-|abs|100"
  "pause-nul-100mb|longest pause, 100 MB of NUL|-|abs|100"
  "burst-add|longest pause, 1,000 sheets arriving in the shown group in 2 s|-|abs|100"
  "burst-remove|longest pause, the same 1,000 sheets removed in 2 s|-|abs|100"
  "burst-add-steps|list updates while the 1,000 sheets arrive|-|abs|4"
  "burst-remove-steps|list updates while they are removed|-|abs|4"
  "md-html-1mb|Markdown to HTML, $(size_label "$medium") (MB/s)|cmark-gfm|ge|0.5"
  "md-html-5mb|Markdown to HTML, $(size_label "$large") (MB/s)|cmark-gfm|ge|0.5"
  "export-docx|DOCX export, $(size_label "$medium")|pandoc|le|0.5"
  "export-pdf|PDF export, $(size_label "$medium")|-|abs|3000"
  "backup-unchanged|backup, nothing changed|rsync -an|le|1"
  "backup-first|backup, first snapshot|cp -r|le|1.2"
  "backup-24h|$hours hourly snapshots (du, MB)|du of library|le|1.5"
  "history-500|history of a sheet across $history_snapshots snapshots|-|abs|300"
  "worddiff-1mb|word diff, $(size_label "$medium") against its previous version|-|abs|500"
)

fmt() {
  [ -z "$1" ] && { echo "-"; return; }
  awk -v v="$1" -v u="$2" 'BEGIN {
    if (u == "ms") printf (v < 10 ? "%.2f ms" : "%.0f ms"), v;
    else if (u == "MB/s") printf "%.1f MB/s", v;
    else if (u == "steps") printf "%d", v;
    else printf "%.1f MB", v }'
}

status=0
line() { printf '%-44s %12s %12s %8s %9s  %s\n' "$@"; }
echo
line "case" "Orvik" "peer" "ratio" "target" "result"
line "----" "-----" "----" "-----" "------" "------"
for c in "${cases[@]}"; do
  IFS='|' read -r id label peer_name kind target <<<"$c"
  o=${ours[$id]:-}
  p=${peer[$id]:-}
  u=${unit[$id]:-ms}
  ratio="-"
  if [ -n "$o" ] && [ -n "$p" ]; then
    ratio=$(awk -v a="$o" -v b="$p" 'BEGIN { if (b > 0) printf "%.2fx", a / b; else print "-" }')
  fi
  case $kind in
    le) target_text="<= ${target}x" ;;
    ge) target_text=">= ${target}x" ;;
    abs) target_text="<= $(fmt "$target" "$u")" ;;
  esac
  if [ -z "${failed[$id]:-}" ] && [ -z "$o" ] && [ $smoke -eq 1 ] && [ "$id" = backup-24h ] &&
    ! have faketime; then
    result="skipped (no faketime)"
  elif [ -n "${failed[$id]:-}" ] || [ -z "$o" ]; then
    result="ERROR (not measured)"
    status=1
  elif [ $smoke -eq 1 ]; then
    result="ran (smoke)"
  elif [ "$kind" != abs ] && [ "$ratio" = "-" ]; then
    result="no peer"
    status=1
  else
    met=$(awk -v a="$o" -v b="${p:-1}" -v k="$kind" -v t="$target" 'BEGIN {
      r = k == "abs" ? a : a / b
      print (k == "ge" ? r >= t : r <= t) ? "pass" : "FAIL" }')
    result=$met
    if [ "$met" = FAIL ] && [ $status -eq 0 ]; then status=3; fi
  fi
  [ "$peer_name" = "-" ] && p_text="-" || p_text=$(fmt "$p" "$u")
  line "$label" "$(fmt "$o" "$u")" "$p_text" "$ratio" "$target_text" "$result"
done

echo
cat <<EOF
Notes: command timings are medians of $runs run(s), Orvik and peer interleaved; search
figures are medians over $search_runs fresh process(es), editor and Markdown figures in-process medians.
- Cold search: the first search of a fresh process, in-process cache empty; the page cache
  is warm for Orvik and rg alike (dropping it needs root). Warm: mean per query over the
  same 20 queries for both. Peer: rg -i -F -c QUERY LIBRARY.
- Search memory: peak resident size of the search process against the sheets' bytes.
- Editor: the real text view against a plain QPlainTextEdit, both offscreen. Longest pause:
  the largest gap between the turns of a 10 ms timer while a pathological sheet (one line,
  no line breaks) opens, loads, is scrolled to its end and typed into (smoke: 1/16 size).
- On X: the editor rows again in Xvfb through the xcb platform. Against ghostwriter: each
  program started on a fresh copy of the same sheet (Orvik with it in a library of its own).
  Shown: from the start to the last change of the screen before it stays still for 1.5 s
  (grabbed about every 10 ms; a blinking caret is no change). CPU: user and system time of
  the program and its children (/proc/PID/stat, 10 ms ticks) from the first of 300 keys that
  xdotool types at 20 a second, halfway up the sheet, until the screen is still, per key.
- Bursts: another thread writes 1,000 sheets into the shown group within 2 s (a hidden
  temporary file renamed, as sync tools do), then removes them, while a key is typed every
  50 ms; the longest gap of a 5 ms timer, and how often the list grew or shrank.
- Markdown: UTF-8 in, UTF-8 HTML out; cmark-gfm's time per conversion without its start-up
  (k joined copies less one). Ratio: our throughput / its throughput.
- DOCX: orvik export against pandoc -o x.docx; backups against rsync -an of the library onto
  the last snapshot and cp -r of the library.
EOF
for n in "${notes[@]}"; do echo "$n"; done
echo
echo "Reports of the benchmark programs:"
sed 's/^/  /' "$work/reports.txt" | grep -v $'^  ROW\t' || true
echo "total $(awk -v s="$started" -v e="$EPOCHREALTIME" 'BEGIN { printf "%.0f", e - s }') s"
exit $status
}
