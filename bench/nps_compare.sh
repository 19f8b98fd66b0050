#!/usr/bin/env bash
# Nodes per second of several builds (and peers) side by side: each round
# runs every engine's bench once, in turn, so that a change in the machine's
# load or clock touches all of them alike. Prints each run and, at the end,
# each engine's median and best, and its median as a ratio to the first one.
#
# Usage: bench/nps_compare.sh ROUNDS NAME=COMMAND...
#   bench/nps_compare.sh 3 avx2="build/velmora bench" \
#       avx512="build-auto/velmora bench" sf="/usr/games/stockfish bench 16 1 13"
# Every command must print a line "Nodes/second : N" (Velmora and Stockfish
# both do). Run it on an idle machine: a background job changes the answer.
set -euo pipefail
rounds=${1:?usage: nps_compare.sh ROUNDS NAME=COMMAND...}
shift
names=() commands=()
for engine in "$@"; do
  names+=("${engine%%=*}")
  commands+=("${engine#*=}")
done
declare -A runs
for ((r = 1; r <= rounds; r++)); do
  for i in "${!names[@]}"; do
    nps=$(bash -c "${commands[$i]}" 2>&1 | sed -n 's/^Nodes\/second *: *\([0-9]*\).*/\1/p' | tail -1)
    [ -n "$nps" ] || { echo "no Nodes/second line from: ${commands[$i]}" >&2; exit 1; }
    runs[${names[$i]}]+="$nps "
    printf 'round %d  %-10s %10d nps\n' "$r" "${names[$i]}" "$nps"
  done
done
median() { tr ' ' '\n' | sed '/^$/d' | sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }
first=$(echo "${runs[${names[0]}]}" | median)
for name in "${names[@]}"; do
  m=$(echo "${runs[$name]}" | median)
  best=$(echo "${runs[$name]}" | tr ' ' '\n' | sed '/^$/d' | sort -n | tail -1)
  awk -v n="$name" -v m="$m" -v b="$best" -v f="$first" -v f0="${names[0]}" \
    'BEGIN {printf "%-10s median %10d  best %10d  ratio to %s %.3f\n", n, m, b, f0, m / f}'
done
