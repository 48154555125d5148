#!/usr/bin/env bash
# Shared by run.sh and test.sh: install missing Debian packages, then configure
# and build in Release into build/. Safe to run again; it skips what is done.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
PACKAGES=(
  cmake make g++ clang libomp-14-dev libclang-rt-14-dev pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev libqt5serialport5-dev
  libgtest-dev libgmock-dev libbenchmark-dev libpolyclipping-dev
  xvfb xauth libgl1-mesa-dri libegl-mesa0 libglx-mesa0
)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() {
  local jobs
  jobs="$(nproc 2>/dev/null || echo 2)"
  if [ ! -f "$ROOT/build/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$ROOT/build" -DCMAKE_BUILD_TYPE=Release
  fi
  cmake --build "$ROOT/build" -j "$jobs"
}

install_missing
build
