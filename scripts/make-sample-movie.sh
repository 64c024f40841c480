#!/usr/bin/env bash
# Makes the demo's sample cut-scene: 4 s of 640x360 H.264 with an AAC tone.
#   scripts/make-sample-movie.sh <output.mp4>
set -euo pipefail
out=${1:?output file}
[ -s "$out" ] && exit 0
ffmpeg -loglevel error -y \
  -f lavfi -i "testsrc2=size=640x360:rate=25:duration=4" \
  -f lavfi -i "sine=frequency=330:beep_factor=4:duration=4" \
  -vf "hue=H=2*PI*t/4" -c:v libx264 -pix_fmt yuv420p -preset veryfast \
  -c:a aac -b:a 96k -shortest "$out.tmp.mp4"
mv "$out.tmp.mp4" "$out"
