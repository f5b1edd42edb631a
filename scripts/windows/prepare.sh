#!/usr/bin/env bash
# Installs the MinGW-w64 cross compiler and Wine, and fetches hidapi's Debian source package
# into DIR/hidapi-src (default build-windows-hidapi), through an apt configuration of its
# own: the machine's apt sources are left as they are. Root or sudo for the install.
set -euo pipefail
dir=${1:-build-windows-hidapi}
packages=(g++-mingw-w64-x86-64 mingw-w64-tools wine64 wine zip unzip dpkg-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get -o DPkg::Lock::Timeout=300 update
  $sudo apt-get -o DPkg::Lock::Timeout=300 install -y --no-install-recommends "${missing[@]}"
fi

[ -d "$dir/hidapi-src/windows" ] && exit 0
# A deb-src entry for the same archive, suite and keyring as the machine's Debian entry.
apt_dir=$(realpath -m "$dir/apt")
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources"
debian=$(grep -l -E '^URIs: .*/debian/?$' /etc/apt/sources.list.d/*.sources | head -n 1)
uri=$(sed -n 's/^URIs: *//p' "$debian" | head -n 1)
keyring=$(sed -n 's/^Signed-By: *//p' "$debian" | head -n 1)
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
cat >"$apt_dir/sources/debian-src.sources" <<SOURCES
Types: deb-src
URIs: $uri
Suites: $suite
Components: main
Signed-By: $keyring
SOURCES
apt_options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources"
  -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache")
apt-get "${apt_options[@]}" update
rm -rf "$dir/hidapi-src" "$dir/fetched"
mkdir -p "$dir/fetched"
(cd "$dir/fetched" && apt-get "${apt_options[@]}" source --download-only hidapi)
dpkg-source -x "$(ls "$dir"/fetched/hidapi_*.dsc)" "$dir/hidapi-src"
