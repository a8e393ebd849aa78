#!/usr/bin/env bash
# Builds and runs the tests once more under the sanitizers (gcc):
#   - AddressSanitizer + UndefinedBehaviorSanitizer: the whole suite, fuzz
#     corpus replays included, the packaging checks excepted;
#   - ThreadSanitizer: the tests of the threaded parts (search, backups,
#     network services, the library store).
#
#   scripts/sanitize.sh [asan|tsan]...     (default: both)
#
# Build folders: build/asan and build/tsan, or $ORVIK_ASAN_DIR / $ORVIK_TSAN_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(asan tsan)
root=$PWD
supp=$root/tests/sanitizers
jobs=${ORVIK_SANITIZE_JOBS:-2}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# The tests that exercise threads: worker pools, concurrent futures, the
# network services and the store that loads off the UI thread.
# (The fault tests of store and backups fork a multi-threaded process, which
# ThreadSanitizer does not support; their threads are the ones tested here.)
tsan_tests=(tst_searchengine tst_backupmanager tst_librarystore tst_daily_context
  tst_daily_places tst_update_checker tst_racecanary)

configure() { # folder sanitizers
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 \
    -DBUILD_TESTING=ON "-DORVIK_SANITIZE=$2" "${launcher[@]}" >/dev/null
}

run_asan() {
  local dir=${ORVIK_ASAN_DIR:-build/asan}
  configure "$dir" "address;undefined"
  cmake --build "$dir" -j "$jobs"
  # Qt and fontconfig keep some allocations for the life of the process.
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1 \
    LSAN_OPTIONS=suppressions=$supp/lsan.supp:print_suppressions=0 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:suppressions=$supp/ubsan.supp \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" -E '^packaging_' \
    --no-tests=error
}

run_tsan() {
  local dir=${ORVIK_TSAN_DIR:-build/tsan}
  configure "$dir" thread
  # Only those of the list this tree has.
  local t known targets=()
  known=$(ninja -C "$dir" -t targets all)
  for t in "${tsan_tests[@]}"; do
    if grep -q "^$t:" <<<"$known"; then
      targets+=("$t")
    fi
  done
  cmake --build "$dir" -j "$jobs" --target "${targets[@]}"
  # Qt's libraries are not instrumented: their own memory accesses and calls
  # are left out, see tests/sanitizers/tsan.supp.
  local pattern
  pattern="^($(IFS='|'; echo "${targets[*]}"))\$"
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$supp/tsan.supp \
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" -R "$pattern" --no-tests=error
}

for kind in "${kinds[@]}"; do
  case $kind in
    asan) run_asan ;;
    tsan) run_tsan ;;
    *) echo "unbekannt: $kind (asan, tsan)" >&2; exit 2 ;;
  esac
done
