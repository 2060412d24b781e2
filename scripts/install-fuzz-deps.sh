#!/bin/bash
# Installs what `make fuzz` needs beyond the ordinary build: clang with its sanitizer runtimes
# and libFuzzer. Does nothing when all are present. Uses sudo when not run as root.
set -euo pipefail
packages=(clang libclang-rt-14-dev libfuzzer-14-dev)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing Debian packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
