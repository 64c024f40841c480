#!/usr/bin/env bash
# Installs every Debian package the project builds, tests and runs with.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ccache clang libclang-rt-14-dev lld
  libsdl1.2-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libopenal-dev
  python3.11 libpython3.11-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg
  xvfb xdotool x11-apps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
