#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) in their own build
# directory and runs each for a bounded number of inputs.
#   fuzz/run.sh [build-dir]      FUZZ_RUNS=N to change the count (default 20000)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
runs=${FUZZ_RUNS:-20000}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
  -DCINELINK_SANITIZE="address;undefined" -DCINELINK_FUZZ=ON -DCINELINK_TESTS=OFF

targets=$(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(fuzz_[A-Za-z0-9_]*\).*/\1/p')
if [ -z "$targets" ]; then
  echo "fuzz: no targets" >&2
  exit 1
fi
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $targets

export SDL_VIDEODRIVER=dummy
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
# The fuzzers run side by side, each into its own log.
pids=()
for target in $targets; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  echo "fuzz: $target, $runs runs"
  "$build/fuzz/$target" -runs="$runs" -seed=1 -max_len=4096 "$corpus" \
    >"$build/$target.log" 2>&1 &
  pids+=("$!")
done
passed=0
failed=0
i=0
for target in $targets; do
  if wait "${pids[$i]}"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "fuzz: $target failed" >&2
    tail -n 60 "$build/$target.log" >&2
  fi
  i=$((i + 1))
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
