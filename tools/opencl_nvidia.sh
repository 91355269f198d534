#!/usr/bin/env bash
# Builds the OpenCL plugin, its tests and bench_opencl, runs the OpenCL
# tests (both engines) and the benchmark (the blocked engine up to
# n = 8000, the step-by-step one up to 2000, beside the CPU solve) and a
# tarvix-cli solve with each engine, on a machine with an NVIDIA GPU and its
# OpenCL runtime (the driver's ICD, /etc/OpenCL/vendors/nvidia.icd).
#
#   tools/opencl_nvidia.sh [BUILD_DIR] [bench arguments...]
#
# The device list comes first, so the GPU's number for --devices can be read
# off it; without --devices the benchmark uses every device listed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-nvidia}
shift || true

if ! ls /etc/OpenCL/vendors/*.icd >/dev/null 2>&1; then
  echo "No OpenCL ICD under /etc/OpenCL/vendors: is the NVIDIA OpenCL runtime installed?" >&2
  exit 1
fi
tools/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTARVIX_GUI=OFF
cmake --build "$build" --parallel "$(nproc)" --target TrxOpenCL tarvix-cli \
  tst_openclengine tst_clidevices bench_opencl

# Only the NVIDIA runtime for the tests and the benchmark (the ICD loader
# reads this list instead of every file under /etc/OpenCL/vendors).
if [ -f /etc/OpenCL/vendors/nvidia.icd ]; then
  export OCL_ICD_VENDORS=/etc/OpenCL/vendors/nvidia.icd
fi
"$build"/tarvix-cli --list-devices
# The engine test splits work between two devices when there are two; on a
# single GPU that part is skipped.
ctest --test-dir "$build" -R 'tst_(openclengine|clidevices)' --output-on-failure
# Each engine through the console program, with the report of where the
# elimination ran and how far the answer can be trusted.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build"/tarvix-cli generate 2000 "$work/sys.trx" --seed 7 >/dev/null
TIMEFORMAT='  %R s wall'
for engine in blocked stepwise; do
  echo "tarvix-cli solve, n = 2000, --engine $engine:"
  time "$build"/tarvix-cli solve "$work/sys.trx" --device opencl --engine "$engine" --report \
    2>&1 >/dev/null | sed 's/^/  /'
done
echo "tarvix-cli solve, n = 2000, on the CPU:"
time "$build"/tarvix-cli solve "$work/sys.trx" --report 2>&1 >/dev/null | sed 's/^/  /'
"$build"/bench/bench_opencl --sizes 500,1000,2000,4000,8000 --stepwise-max 2000 "$@"
