#!/usr/bin/env bash
# Installs what is needed, builds, and prints the telegrams of the sample
# configuration's ten meters, one stick frame per line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
exec build/dev/tools/verdanox-frames --config VDXconfig.txt "$@"
