#!/usr/bin/env bash
# Usage: tools/screenshot.sh OUT.png [BUILD_DIR]
# Builds the screenshot test and renders a main window holding the 3x3
# example on a virtual X display (xvfb-run), saving the picture to OUT.png.
# Keep pictures out of the repository (screenshots/ is ignored).
set -euo pipefail
out=${1:?usage: tools/screenshot.sh OUT.png [BUILD_DIR]}
root="$(cd "$(dirname "$0")/.." && pwd)"
build=${2:-$root/build}
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
mkdir -p "$(dirname "$out")"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target tst_screenshot
TARVIX_SCREENSHOT="$out" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1024x768x24" "$build/tests/tst_screenshot" -silent
echo "Screenshot written to $out"
