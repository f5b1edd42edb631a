#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine (run as root or
# with sudo available).
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config libhidapi-dev libgtest-dev libgmock-dev
          binutils mandoc dpkg-dev file)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
