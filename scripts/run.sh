#!/usr/bin/env bash
# Installs what building and running need, builds the programs, and starts
# Verdanox on the virtual RF stick with the sample configuration:
# - with a display, the window (press "Start sending"); the terminal shows
#   every telegram the stick receives, checked and decoded;
# - without one (an SSH session, a container), verdanox-send, which sends at
#   once: the terminal shows a checked telegram every five seconds until
#   Ctrl+C.
# Arguments go to verdanox-virtual-stick (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake --preset programs >/dev/null
cmake --build --preset programs
stick=build/programs/tools/verdanox-virtual-stick
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "Verdanox is starting on a virtual RF stick; press \"Start sending\" in its window."
  exec "$stick" "$@" -- build/programs/app/verdanox
fi
echo "No display: verdanox-send is sending on a virtual RF stick; stop it with Ctrl+C."
exec "$stick" "$@" -- build/programs/tools/verdanox-send --quiet
