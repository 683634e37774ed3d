#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for a
# bounded time (FUZZ_SECONDS, 60 by default), two at a time, starting from
# the seed corpus in tests/fuzz/corpus. Fails on any finding; the input that
# caused it is left in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
build=build-fuzz
./scripts/install-deps.sh clang libclang-rt-14-dev
. scripts/compiler-cache.sh

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCP290_FUZZ=ON -DCP290_BUILD_TESTS=OFF "${cache_flags[@]}"
targets=(schedule_file crontab preferences replies)
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/findings"

run() {
  local t=$1 work="$build/corpus/$1"
  mkdir -p "$work"
  # New inputs go to the build's corpus; the seeds in the tree stay as they are.
  if "$build/fuzz/fuzz_$t" "$work" "tests/fuzz/corpus/$t" -max_total_time="$seconds" -timeout=10 \
       -rss_limit_mb=2048 -max_len=4096 -artifact_prefix="$build/findings/$t-" \
       >"$build/findings/$t.log" 2>&1; then
    echo "fuzz_$t: clean, $(grep -ao 'Done [0-9]* runs in [0-9]* second' "$build/findings/$t.log" | tail -1)s"
  else
    echo "fuzz_$t: FINDING, see $build/findings/$t.log"
    tail -40 "$build/findings/$t.log"
    return 1
  fi
}

status=0
# Two at a time: the machines that run this have two cores.
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pids=()
  for t in "${targets[@]:i:2}"; do
    run "$t" & pids+=($!)
  done
  for p in "${pids[@]}"; do
    wait "$p" || status=1
  done
done
exit "$status"
