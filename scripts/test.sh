#!/usr/bin/env bash
# Installs what is needed, then configures, builds and runs every test in the
# normal build, the sanitizer build (address + undefined) and the fuzz build.
#   scripts/test.sh            all three
#   scripts/test.sh dev        only the named presets
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(dev asan fuzz)
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  cmake --preset "$preset"
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
