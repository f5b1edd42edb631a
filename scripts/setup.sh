#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (run as root or
# with sudo available).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libhidapi-dev libgtest-dev libgmock-dev
          binutils mandoc dpkg-dev file
          # the fuzz targets, clang-tidy and the benchmarks
          clang clang-tidy libclang-rt-14-dev libbenchmark-dev
          # the kernel-path test (label vm): QEMU, the guest's shell and its initramfs
          qemu-system-x86 busybox-static cpio xz-utils zstd)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get -o DPkg::Lock::Timeout=300 update
  $sudo apt-get -o DPkg::Lock::Timeout=300 install -y --no-install-recommends "${missing[@]}"
fi
