#!/bin/bash
# Starts the built application; without a display it runs inside a virtual desktop session.
# TAVROLIN_EXECUTABLE names the program to start (the Makefile passes its optimised build).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
exe="${TAVROLIN_EXECUTABLE:-$here/build-release/src/app/tavrolin}"
if [ ! -x "$exe" ]; then
  echo "The application is not built yet (no $exe): run 'make run'." >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "DISPLAY is not set: starting Tavrolin on a virtual display (Xvfb), with your own settings folders. Stop it with Ctrl+C."
  exec "$here/scripts/desktop-session.sh" --user-folders "$exe" "$@"
fi
echo "Starting Tavrolin; quit it from its tray menu, or stop it with Ctrl+C."
exec "$exe" "$@"
