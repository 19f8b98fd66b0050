#!/usr/bin/env bash
# Re-creates the artefacts of the training loop that live outside the
# repository, for a data folder that was lost or starts empty:
#
#   train/restore.sh DATA [BUILD]
#
# DATA   data folder (for example ../velmora-data)
# BUILD  build folder (default build; configured as a Release build of this
#        machine's architecture when it has no CMakeCache.txt yet)
#
# It builds the engine and the training tools and copies them to DATA/bin
# (matches and generators run those copies, so the build folder can be
# rebuilt under them), unpacks every network the repository ever shipped to
# DATA/netN.nnue (N from the commit's subject; net-COMMIT.nnue where the
# subject names none) and reads the newest one back into a trainer model,
# DATA/netN-model.bin, the starting point of the next fine-tune. Files
# already there are kept. Self-play data cannot be restored: the commands
# that made each generation are in the README.
set -euo pipefail
[ $# -ge 1 ] || { sed -n '2,18p' "$0"; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
data=$1 build=${2:-$repo/build}
packed=eval/network/220321-307.nnue.tar.xz
tools=(velmora velmora_datagen velmora_train velmora_data)

[ -s "$build/CMakeCache.txt" ] ||
  cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_ARCH=auto >/dev/null
cmake --build "$build" --target "${tools[@]}" >/dev/null
mkdir -p "$data/bin"
for t in "${tools[@]}"; do cp "$build/$t" "$data/bin/$t.new" && mv "$data/bin/$t.new" "$data/bin/$t"; done

newest=""
while read -r commit subject; do
  n=$(sed -nE 's/^(Network: )?[Nn]et ([0-9]+)[^0-9].*/\2/p' <<< "$subject ")
  net=$data/net${n:--$commit}.nnue
  [ -n "$newest" ] || newest=$net
  [ -s "$net" ] && continue
  git -C "$repo" show "$commit:$packed" | tar -xJO > "$net.part"
  mv "$net.part" "$net"
  echo "unpacked $(basename "$net") from $commit"
done < <(git -C "$repo" log --format='%h %s' -- "$packed")

[ -n "$newest" ] || { echo "no shipped network in the history (shallow clone?)"; exit 1; }
model=${newest%.nnue}-model.bin
[ -s "$model" ] || "$data/bin/velmora_train" import --net "$newest" --out "$model"
echo "restored $data: tools in bin/, newest network $(basename "$newest"), model $(basename "$model")"
