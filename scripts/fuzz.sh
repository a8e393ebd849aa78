#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build-fuzz and
# runs each for SECONDS (default 60), one after the other:
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]      targets: sheet markdowntohtml ...
#
# Each run starts from the committed corpus tests/fuzz/corpus/<name> and keeps
# what it finds in build-fuzz/corpus/<name>; crashes, timeouts and leaks land in
# build-fuzz/findings/<name>. ORVIK_FUZZ_MERGE=1 afterwards adds the scratch finds
# that reach new coverage to the committed corpus (-merge=1). ORVIK_FUZZ_JOBS=N runs
# N targets at once (default 1).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
if [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
all=(sheet markdowntohtml highlighter rss forecast geocoder appcast trash)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")
for t in "${targets[@]}"; do
  [[ " ${all[*]} " == *" $t "* ]] || { echo "unbekanntes Ziel: $t (${all[*]})" >&2; exit 2; }
done

# Per input: a text of up to 64 KiB takes well under 0.1 s even instrumented,
# so seconds mean work growing faster than the input. The limit is wall-clock
# time, hence the headroom for a machine busy with other work.
max_len=65536
timeout=10
rss_limit=2048

scripts/setup.sh --fuzz
build=build-fuzz
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DORVIK_FUZZ=ON "${launcher[@]}" >/dev/null
fi
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8

run() {
  local name=$1
  local scratch=$build/corpus/$name findings=$build/findings/$name
  mkdir -p "$scratch" "$findings"
  local dict status=0
  case $name in
    sheet | markdowntohtml | highlighter) dict=markdown ;;
    rss) dict=rss ;;
    *) dict=json ;;
  esac
  echo "== fuzz_$name: $seconds s" >&2
  # New finds go to the first folder only; the committed corpus is read.
  "$build/tests/fuzz/fuzz_$name" "$scratch" "tests/fuzz/corpus/$name" \
    -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb="$rss_limit" \
    -max_len="$max_len" -artifact_prefix="$findings/" -print_final_stats=1 -dict="tests/fuzz/$dict.dict" \
    >"$build/fuzz_$name.log" 2>&1 || status=$?
  tail -n 12 "$build/fuzz_$name.log" >&2
  if [ "$status" -ne 0 ]; then
    echo "!! fuzz_$name: Fund in $findings (Log: $build/fuzz_$name.log)" >&2
    return 1
  fi
  if [ "${ORVIK_FUZZ_MERGE:-0}" = 1 ]; then
    # Adds only the finds that reach new coverage; the hand-written seeds stay.
    "$build/tests/fuzz/fuzz_$name" -merge=1 -max_len="$max_len" -timeout="$timeout" \
      "tests/fuzz/corpus/$name" "$scratch" >>"$build/fuzz_$name.log" 2>&1
  fi
  return 0
}

failed=0
jobs=${ORVIK_FUZZ_JOBS:-1}
pids=()
for t in "${targets[@]}"; do
  run "$t" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do
  wait "$p" || failed=1
done
exit "$failed"
