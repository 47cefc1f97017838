#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing
# Verdanox needs. Runs as root, or through sudo. Does nothing when all are
# already installed, so it is cheap to call before every build.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ make pkg-config
  # the window program
  libfox-1.6-dev
  # tests, benchmark, fuzzing (OpenSSL is a test-only oracle)
  libgtest-dev libgmock-dev libbenchmark-dev libssl-dev clang libclang-rt-14-dev
  # the virtual stick
  umockdev libumockdev-dev
  # tests of the running program under a virtual display
  xvfb xauth xdotool x11-utils x11-apps xclip imagemagick python3 python3-xlib tesseract-ocr tesseract-ocr-eng
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "Installing: ${missing[*]}"
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
