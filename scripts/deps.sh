#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need,
# only those that are missing.  Run as root (or through sudo).
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  # libraries
  portaudio19-dev libasound2-dev libjack-jackd2-dev libssl-dev
  libsndfile1-dev
  # external programs the component starts
  lame flac
  # peers for tests and benchmarks
  sox multimon-ng libfftw3-dev zlib1g-dev tinyproxy dante-server openssh-server
  openssh-client curl python3 procps locales passwd
  openssl nginx
  # speech for the recognition tests: synthesis and a recogniser
  espeak-ng pocketsphinx pocketsphinx-en-us
  # install and package tests: man -w, readelf, dpkg-shlibdeps
  man-db binutils dpkg-dev
  # network namespaces of the datagram tests (ip link/route); util-linux's unshare, setpriv
  iproute2 util-linux
  # pictures (cairo; libpng reads them back in tests) and the live view's browser tests
  libcairo2-dev libpng-dev fonts-dejavu-core pngcheck file chromium chromium-driver
  # the HTTP client's peers: httpbin under gunicorn, libcurl for the benchmark
  gunicorn python3-httpbin libcurl4-openssl-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "deps: all ${#packages[@]} packages are installed"
  exit 0
fi

echo "deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
$SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}"
