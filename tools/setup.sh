#!/usr/bin/env bash
# Installs what building and testing Velmora needs on a Debian machine.
# Runs as root (or through sudo when available); safe to run again.
set -euo pipefail
packages=(g++ cmake ninja-build libgtest-dev stockfish)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
