#!/usr/bin/env bash
# Installs what is needed, builds, and starts Verdanox on the virtual RF stick
# with the sample configuration. The window appears on your desktop; the
# terminal shows every telegram the stick receives, checked and decoded.
# Without a display it runs under xvfb-run (the telegrams still show).
# Arguments are passed to verdanox-virtual-stick (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev
echo "Verdanox is starting on a virtual RF stick; press \"Start sending\" in its window."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "(no display: running under xvfb-run; stop with Ctrl+C)"
  exec xvfb-run -a build/dev/tools/verdanox-virtual-stick "$@"
fi
exec build/dev/tools/verdanox-virtual-stick "$@"
