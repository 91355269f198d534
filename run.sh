#!/usr/bin/env bash
# Installs what is missing, builds Tarvix in build/ and starts it.
# Extra arguments go to the program (equation files, "solve", -Session NAME).
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh
configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
exec ./build/tarvix "$@"
