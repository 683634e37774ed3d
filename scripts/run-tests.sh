#!/usr/bin/env bash
# Installs what the suite needs (Debian/Ubuntu), builds it from scratch and runs
# every test. With --sanitize the build uses AddressSanitizer and
# UndefinedBehaviorSanitizer in its own folder.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
flags=()
select=()
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  flags=(-DCP290_SANITIZE=ON)
  # The real-cron tests spend their minutes waiting for cron; the programs
  # they run are the ones the sanitizer build already tests directly.
  select=(-LE real-cron)
fi

./scripts/install-deps.sh
. scripts/compiler-cache.sh

rm -rf "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" "${cache_flags[@]}"
cmake --build "$build" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j 2 "${select[@]}"
