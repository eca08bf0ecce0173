#!/usr/bin/env bash
# Installs the Debian packages kora needs that are not installed yet.
#   scripts/deps.sh build   what building kora needs
#   scripts/deps.sh test    that plus what the tests, the sanitizer and fuzz builds need
#   scripts/deps.sh bench   that plus the converters the benchmarks compare kora with
set -euo pipefail

build_packages=(build-essential cmake ninja-build libncurses-dev libsqlite3-dev libgtest-dev)
test_packages=(tmux procps python3-dbfread python3-yaml gdal-bin sqlite3 clang libclang-rt-dev)
bench_packages=(pgdbf dbview time bc)

wanted=("${build_packages[@]}")
case "${1:-test}" in
  test) wanted+=("${test_packages[@]}") ;;
  bench) wanted+=("${test_packages[@]}" "${bench_packages[@]}") ;;
esac

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
