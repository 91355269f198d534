#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test headless,
# then the AddressSanitizer + UndefinedBehaviorSanitizer build's tests, then
# the file readers' fuzz harnesses (clang) for a few seconds each.
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

if [ ! -f build-fuzz/build.ninja ]; then
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTARVIX_FUZZ=ON -DTARVIX_GUI=OFF \
    -DTARVIX_BENCH=OFF
fi
cmake --build build-fuzz --parallel "$(nproc)" --target fuzz_text fuzz_binary
for harness in fuzz_text fuzz_binary; do
  build-fuzz/fuzz/$harness -seed=1 -max_total_time=10 -print_final_stats=1 2>&1 | tail -n 3
done
