#!/usr/bin/env bash
# Installs with apt what the tree needs on a fresh Debian 12 machine (run as root or with
# sudo available); packages already installed are left alone.
#   scripts/setup.sh              everything: building, running, testing, checking
#   scripts/setup.sh --run-only   only building the program and the virtual device and
#                                 running them (what scripts/demo.sh needs)
set -euo pipefail
case "${1:-}" in
  "") all=1 ;;
  --run-only) all=0 ;;
  *) echo "usage: scripts/setup.sh [--run-only]" >&2; exit 2 ;;
esac
# Building and running: compiler, cmake, ninja, hidapi, the JSON library (header only, for
# --json; the Windows build takes it too); objcopy (binutils) for the demo's flash comparison.
packages=(build-essential cmake ninja-build pkg-config libhidapi-dev nlohmann-json3-dev binutils)
if [ "$all" -eq 1 ]; then
  packages+=(
    # the tests, the manual's lint and the Debian package
    libgtest-dev libgmock-dev mandoc dpkg-dev file
    # the fuzz targets, clang-tidy and the benchmarks
    clang clang-tidy libclang-rt-14-dev libbenchmark-dev
    # the kernel-path test (label vm): QEMU, the guest's shell and its initramfs
    qemu-system-x86 busybox-static cpio xz-utils zstd)
fi
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
