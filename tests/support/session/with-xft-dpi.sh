#!/bin/bash
# usage: with-xft-dpi.sh DPI COMMAND [ARGS...]
# Runs COMMAND with "Xft.dpi: DPI" in the X resource database of $DISPLAY (what a scaled desktop
# sets: 192 is 200 %), then puts the database back as it was. Desktop tests run one at a time,
# so no other test sees the change.
set -u
dpi=$1
shift
saved=$(mktemp)
xrdb -nocpp -query >"$saved" || { rm -f "$saved"; exit 1; }
restore() { xrdb -nocpp -load "$saved"; rm -f "$saved"; }
trap restore EXIT
echo "Xft.dpi: $dpi" | xrdb -nocpp -merge || exit 1
"$@"
