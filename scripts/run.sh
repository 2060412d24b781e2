#!/bin/bash
# Starts the built application; without a display it runs inside a virtual desktop session.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
exe="$here/build/src/app/tavrolin"
if [ ! -x "$exe" ]; then
  echo "The application is not built yet (no $exe)." >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ]; then
  echo "DISPLAY is not set: starting Tavrolin on a virtual display (Xvfb). Stop it with Ctrl+C."
  exec "$here/tests/support/desktop-session.sh" "$exe" "$@"
fi
exec "$exe" "$@"
