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
  # the Windows build (FOX comes from Debian's source package) and its tests
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 dpkg-dev
)

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
updated=""

# FOX for Windows is built from Debian's fox1.6 source package
if ! grep -rqs "deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "Adding Debian's source package lists"
  printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" "Suites: bookworm bookworm-updates" \
    "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
    $sudo tee /etc/apt/sources.list.d/verdanox-deb-src.sources >/dev/null
  $sudo apt-get update -q
  updated=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
[ -n "$updated" ] || $sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
