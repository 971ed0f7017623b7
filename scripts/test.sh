#!/usr/bin/env bash
# Runs every test: the format check, the release suites, the suites built with
# AddressSanitizer and UndefinedBehaviorSanitizer, and the concurrency suites
# built with ThreadSanitizer.
#   scripts/test.sh [--only release|asan|tsan] BUILD_DIR ASAN_DIR TSAN_DIR
set -euo pipefail
cd "$(dirname "$0")/.."

only=""
if [ "${1:-}" = "--only" ]; then only="$2"; shift 2; fi
build_dir=${1:-build}
asan_dir=${2:-build-asan}
tsan_dir=${3:-build-tsan}
jobs=$(nproc)
root=$(pwd)

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

step() { printf '\n== %s ==\n' "$*"; }

run_release() {
  step "format check"
  files=$(find velmora apps tests bench examples \( -name '*.h' -o -name '*.cpp' \) 2>/dev/null)
  if [ -n "$files" ]; then
    # shellcheck disable=SC2086
    clang-format --dry-run --Werror $files
  fi
  step "release suites ($build_dir)"
  ctest --test-dir "$build_dir" --output-on-failure -j "$jobs"
}

run_asan() {
  step "AddressSanitizer + UndefinedBehaviorSanitizer suites ($asan_dir)"
  cmake -S . -B "$asan_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMORA_SANITIZE=address,undefined -DVELMORA_BENCH=OFF
  cmake --build "$asan_dir" -j "$jobs"
  ctest --test-dir "$asan_dir" --output-on-failure -j "$jobs"
}

run_tsan() {
  step "ThreadSanitizer suites ($tsan_dir): tests named *Concurrency*"
  cmake -S . -B "$tsan_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMORA_SANITIZE=thread -DVELMORA_BENCH=OFF
  cmake --build "$tsan_dir" -j "$jobs"
  ctest --test-dir "$tsan_dir" --output-on-failure -j "$jobs" -R 'Concurrency' --no-tests=ignore
}

case "$only" in
  release) run_release ;;
  asan) run_asan ;;
  tsan) run_tsan ;;
  "") run_release; run_asan; run_tsan ;;
  *) echo "test.sh: unknown --only $only" >&2; exit 2 ;;
esac
step "all tests passed"
