#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test headless,
# then the AddressSanitizer + UndefinedBehaviorSanitizer build's tests.
set -euo pipefail
cd "$(dirname "$0")"
source tools/setup.sh

export QT_QPA_PLATFORM=offscreen

configure_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build --output-on-failure --timeout 600

configure_build build-asan -DCMAKE_BUILD_TYPE=Debug -DTARVIX_SANITIZE=ON -DTARVIX_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
LSAN_OPTIONS=suppressions="$PWD/tools/lsan.supp":print_suppressions=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure --timeout 1200
