#!/usr/bin/env bash
# Installs what is needed, then configures, builds and runs every test: the
# normal build, the sanitizer build (address + undefined), the fuzz build,
# the Debian package of the release build, and the Windows build with its
# installer and its tests under wine.
#   scripts/test.sh                    all five
#   scripts/test.sh dev asan ...       only the named configurations
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

version=$(sed -n 's/^project(verdanox VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

package() {
  cmake --preset programs
  cmake --build --preset programs
  cpack --preset programs
  tests/package/check_deb.sh "build/programs/verdanox_${version}_amd64.deb" build/programs "$version"
}

windows() {
  VDX_FOX_DIR=$(scripts/build-fox-windows.sh)
  export VDX_FOX_DIR
  cmake --preset windows
  cmake --build --preset windows
  export WINEPREFIX=$PWD/build/windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # a prefix of the build's own; wine's background processes must not hold
  # ctest's pipes, so they start here with nothing attached
  mkdir -p "$WINEPREFIX"
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -p </dev/null >/dev/null 2>&1 || true  # 2: already running, from wineboot
  local status=0
  ctest --preset windows || status=$?
  wineserver -k </dev/null >/dev/null 2>&1 || true
  return $status
}

presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(dev asan fuzz package windows)
for preset in "${presets[@]}"; do
  echo "=== $preset ==="
  case "$preset" in
    windows | package) "$preset" ;;
    *)
      cmake --preset "$preset"
      cmake --build --preset "$preset"
      # the fuzz smoke runs are bounded by run counts, not time: two at once
      jobs=1
      [ "$preset" = fuzz ] && jobs=2
      ctest --preset "$preset" -j "$jobs"
      ;;
  esac
done
