#!/usr/bin/env bash
# Installs the Debian 12 packages Verdanox needs. Runs as root, or through
# sudo. Installs only what is missing, and refreshes the package lists only
# then, so it is cheap to call before every build.
#   install-deps.sh run    building and running the programs (the default)
#   install-deps.sh test   the above, and the tests, the Windows build and
#                          the release tools
set -euo pipefail

run_packages=(
  # build
  cmake ninja-build g++ make pkg-config
  # the window program
  libfox-1.6-dev
  # the virtual stick: umockdev, and OpenSSL for its independent check
  umockdev libumockdev-dev libssl-dev
  # header-only libraries: JSON output, rig files
  nlohmann-json3-dev libtomlplusplus-dev
  # verdanox-send --sdr: transmit-capable SDRs through SoapySDR (the
  # devices' modules, soapysdr-module-hackrf, -lms7, ..., as the user needs)
  libsoapysdr-dev
)
test_packages=(
  # tests, benchmark, fuzzing (OpenSSL is a test-only oracle); rtl_433 as an
  # independent receiver of the I/Q captures
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev rtl-433
  # tests of the running program under a virtual display
  xvfb xauth xdotool x11-utils x11-apps xclip imagemagick python3 python3-xlib tesseract-ocr tesseract-ocr-eng
  # the Windows build (FOX comes from Debian's source package) and its tests
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 dpkg-dev
  # releases and their checks: installer, package, man pages, metadata
  nsis lintian desktop-file-utils appstream man-db file
)

packages=("${run_packages[@]}")
case "${1:-run}" in
  run) ;;
  test) packages+=("${test_packages[@]}") ;;
  *) echo "usage: $0 [run|test]" >&2; exit 2 ;;
esac

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
