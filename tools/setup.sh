#!/usr/bin/env bash
# Installs what building and testing Velmora needs on a Debian machine.
# Runs as root (or through sudo when available); safe to run again.
# The Windows check needs the mingw-w64 cross-compiler and wine; they are
# installed without their recommended packages (fonts, graphics), which a
# console program under wine does not use.
# The OpenBench end-to-end test runs the real server and client: Django,
# SciPy (SPRT statistics), requests, psutil and cpuinfo; bzip2 unpacks the
# PGN archive it downloads.
set -euo pipefail
packages=(g++ cmake ninja-build libgtest-dev stockfish make python3-django python3-scipy
          python3-requests python3-psutil python3-cpuinfo bzip2)
windows_packages=(g++-mingw-w64-x86-64-posix wine wine64)
missing() {
  local p
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || echo "$p"; done
}
mapfile -t missing_packages < <(missing "${packages[@]}")
mapfile -t missing_windows < <(missing "${windows_packages[@]}")
if [ ${#missing_packages[@]} -gt 0 ] || [ ${#missing_windows[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null && SUDO=sudo
  $SUDO apt-get update -qq
  [ ${#missing_packages[@]} -eq 0 ] ||
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing_packages[@]}" >/dev/null
  [ ${#missing_windows[@]} -eq 0 ] ||
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing_windows[@]}" >/dev/null
fi
