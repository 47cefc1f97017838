#!/usr/bin/env bash
# Builds verdanox.exe and verdanox-frames.exe for 64-bit Windows: statically
# linked, needing only system DLLs. FOX 1.6 for Windows is built once per
# machine from Debian's source package (about 4 minutes) and then reused.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
VDX_FOX_DIR=$(scripts/build-fox-windows.sh)
export VDX_FOX_DIR
cmake --preset windows >/dev/null
cmake --build --preset windows
ls -l build/windows/app/verdanox.exe build/windows/tools/verdanox-frames.exe
