#!/usr/bin/env bash
# Makes a release into dist/: the Debian package (release build), the
# Windows zip and installer, and SHA256SUMS of the three.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test  # the Windows tool chain and NSIS are among the test packages

cmake --preset programs
cmake --build --preset programs
cpack --preset programs

VDX_FOX_DIR=$(scripts/build-fox-windows.sh)
export VDX_FOX_DIR
cmake --preset windows
cmake --build --preset windows --target windows_dist

version=$(sed -n 's/^project(verdanox VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
rm -rf dist
mkdir dist
cp "build/programs/verdanox_${version}_amd64.deb" "build/windows/dist/verdanox-${version}-win64.zip" \
   "build/windows/dist/verdanox-${version}-setup.exe" dist/
(cd dist && sha256sum -- * > SHA256SUMS)
ls -l dist
