#!/usr/bin/env bash
# Installs what is missing, builds Chromaduct and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting the window on a virtual X server (xvfb-run)."
  exec xvfb-run -a ./build/chromaduct "$@"
fi
exec ./build/chromaduct "$@"
