#!/usr/bin/env bash
# The OpenBench end-to-end stage: the real OpenBench server and client and
# its match runner (snapshots in ../shared/openbench) build Velmora from a zip
# of this checkout, check its bench, play an SPRT and a DATAGEN test, and the
# DATAGEN games go through velmora_data (tests/openbench_e2e.py does the work).
#   tests/openbench_e2e.sh [BUILD_DIR]   BUILD_DIR holds velmora and velmora_data
#                                        (default build-tests/release)
# State stays under build-tests/openbench/; the match runner is built there
# once per source tarball. Prints "PASS openbench ..."/"FAIL openbench ..."
# lines, or one "SKIP openbench ..." line where the snapshots are absent.
# OPENBENCH_SNAPSHOTS names another folder of snapshots.
set -uo pipefail
cd "$(dirname "$0")/.."
tools=${1:-build-tests/release}
shared=${OPENBENCH_SNAPSHOTS:-../shared/openbench}
if ! ls "$shared"/OpenBench-*.tar.gz "$shared"/fastchess-ob-*.tar.gz >/dev/null 2>&1; then
  echo "SKIP openbench: $shared (OpenBench and fastchess-ob snapshots) not found"
  exit 0
fi
# Debian's python3 carries Django, SciPy, requests, psutil and cpuinfo
# (tools/setup.sh); a python3 earlier on PATH may not.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
if ! "$python" -c 'import django, scipy, requests, psutil, cpuinfo' 2>/dev/null; then
  echo "FAIL openbench: $python lacks django/scipy/requests/psutil/cpuinfo (run tools/setup.sh)"
  exit 1
fi
for tool in velmora velmora_data; do
  if [ ! -x "$tools/$tool" ]; then
    echo "FAIL openbench: $tools/$tool not built"
    exit 1
  fi
done
# The Python driver ends everything it started through their process groups;
# this only makes sure the driver itself goes when the stage is interrupted.
"$python" tests/openbench_e2e.py --shared "$shared" --work build-tests/openbench --tools "$tools" &
driver=$!
trap 'kill -TERM $driver 2>/dev/null; wait $driver; exit 1' INT TERM HUP
wait $driver
