#!/usr/bin/env bash
# Self-play on a borrowed many-core machine, packed for the trip back.
#
#   train/device_datagen.sh OUT SECONDS SEED [generator options...]
#
# Builds the generator in build-datagen (for this machine's processor), runs
# it on every core into OUT/run for SECONDS (then a clean stop: only whole
# games stay), and packs the parts and their state files as OUT/run.tar.xz
# split into pieces of at most 15 MiB (OUT/run.tar.xz.00, .01, ...), since
# only a few files of limited size come back from such a machine.
#
# Back home: cat OUT/run.tar.xz.* | tar -xJ -C ../velmora-data/NEW, where
# NEW is a fresh folder (the parts are numbered from 0, so they must not
# land among another run's parts). Give every such run its own SEED, or its
# games repeat those of the earlier run with the same seed.
set -euo pipefail
[ $# -ge 3 ] || { sed -n '2,16p' "$0"; exit 2; }
out=$1 seconds=$2 seed=$3
shift 3
cd "$(dirname "$0")/.."
cmake -S . -B build-datagen -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF >/dev/null
ninja -C build-datagen velmora_datagen >/dev/null
mkdir -p "$out/run"
timeout -s TERM "$seconds" build-datagen/velmora_datagen --out "$out/run" --seed "$seed" "$@" || [ $? -eq 124 ]
tar -C "$out/run" -cf - . | xz -T0 -6 | split -b 15M -d - "$out/run.tar.xz."
rm -rf "$out/run"
ls -l "$out"
