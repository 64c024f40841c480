#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
#   scripts/test.sh [build-dir] [extra cmake arguments...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build=${1:-$root/build}
shift || true
cmake -S "$root" -B "$build" -DCINELINK_TESTS=ON "$@"
# BUILD_TARGETS names the targets to build where not everything is run.
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target ${BUILD_TARGETS:-all}
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ALSOFT_DRIVERS=null CINELINK_NO_DIALOG=1
# CTEST_JOBS: tests at once; two per core by default, since most wait on
# played time rather than the CPU.
ctest --test-dir "$build" --output-on-failure -j"${CTEST_JOBS:-$(($(nproc) * 2))}" ${CTEST_ARGS:-}
