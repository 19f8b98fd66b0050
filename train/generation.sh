#!/usr/bin/env bash
# One generation of the training loop: self-play data, then a network trained
# on every generation's data so far.
#
#   train/generation.sh DATA GEN POSITIONS LABEL [trainer arguments...]
#
# DATA      data folder outside the repository (for example ../velmora-data)
# GEN       generation number: the games go to DATA/genGEN
# POSITIONS kept positions wanted in DATA/genGEN (a run already there is
#           resumed; nothing is generated when it has enough)
# LABEL     --hce, or a network file that plays and labels the games
# The network is trained on DATA/gen*/ (all generations, old data kept) into
# DATA/runs/netGEN; its last epoch is copied to DATA/nets/netGEN.nnue.
# DATAGEN_ARGS adds generator options (for example "--soft-nodes 250").
set -euo pipefail
[ $# -ge 4 ] || { sed -n '2,16p' "$0"; exit 2; }
data=$1 gen=$2 positions=$3 label=$4
shift 4
build=$(cd "$(dirname "$0")/.." && pwd)/build
mkdir -p "$data/nets" "$data/runs"
out="$data/gen$gen"
have=0
for f in "$out"/part-*.bin; do [ -e "$f" ] && have=$((have + $(stat -c %s "$f") / 32)); done
if [ "$have" -lt "$positions" ]; then
  labelArgs=(--hce)
  [ "$label" != "--hce" ] && labelArgs=(--net "$label")
  # The generator's --positions counts this run's positions.
  "$build/velmora_datagen" --out "$out" "${labelArgs[@]}" --seed "$((gen + 1))" \
    --positions "$((positions - have))" ${DATAGEN_ARGS:-}
fi
"$build/velmora_data" stats "$data"/gen*/
"$build/velmora_train" train --data "$data"/gen*/ --out "$data/runs/net$gen" "$@"
last=$(ls "$data/runs/net$gen"/epoch-*.nnue | sort -t- -k2 -n | tail -1)
cp "$last" "$data/nets/net$gen.nnue"
echo "network: $data/nets/net$gen.nnue"
