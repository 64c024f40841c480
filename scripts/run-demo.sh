#!/usr/bin/env bash
# Installs what is missing, builds, stages the game directory and plays the demo.
# Without a display it runs headless and saves a few frames as BMP files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target stage_game
if [ -z "${DISPLAY:-}" ]; then
  export SDL_VIDEODRIVER=dummy
fi
if [ ! -e /dev/snd ]; then
  export ALSOFT_DRIVERS=${ALSOFT_DRIVERS:-null}
fi
# Keep the interpreter from writing bytecode caches into the system's library.
export PYTHONDONTWRITEBYTECODE=1
cd "$build/game"
exec ./kestrel
