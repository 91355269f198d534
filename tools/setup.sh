#!/usr/bin/env bash
# Shared set-up of run.sh and test.sh: installs the Debian packages that are
# missing (through sudo when not root). Quick when everything is there.
set -euo pipefail

PACKAGES=(cmake ninja-build g++ pkg-config qtbase5-dev qtbase5-dev-tools
          libopenblas-dev liblapacke-dev xvfb xauth desktop-file-utils
          libqt5charts5-dev ocl-icd-opencl-dev opencl-headers pocl-opencl-icd clang
          libgmp-dev openmpi-bin libopenmpi-dev libscalapack-openmpi-dev)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# configure_build DIR [cmake args...]: configure once, then build.
configure_build() {
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja "$@"
  fi
  cmake --build "$dir" --parallel "$(nproc)"
}
