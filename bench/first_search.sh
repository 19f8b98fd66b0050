#!/usr/bin/env bash
# Times what a GUI waits for in a fresh engine: start-up to "readyok", then
# the first and the second "go depth 10" from the start position (default
# 256 MB hash, one thread). "ucinewgame" comes between the two searches, so
# that the second does not start from the first one's table entries.
# Usage: bench/first_search.sh [velmora] [runs]
set -euo pipefail
engine=${1:-build/velmora}
runs=${2:-3}
now() { date +%s%N; }
ms() { echo $(( ($2 - $1) / 1000000 )); }

for ((run = 1; run <= runs; run++)); do
  coproc ENGINE { "$engine"; }
  t0=$(now)
  echo isready >&"${ENGINE[1]}"
  while read -r line <&"${ENGINE[0]}"; do [[ $line == readyok ]] && break; done
  t1=$(now)
  times=()
  for search in 1 2; do
    if ((search == 2)); then
      echo ucinewgame >&"${ENGINE[1]}"
      while read -r line <&"${ENGINE[0]}"; do [[ $line == readyok ]] && break; done
    fi
    echo "position startpos" >&"${ENGINE[1]}"
    s=$(now)
    echo "go depth 10" >&"${ENGINE[1]}"
    while read -r line <&"${ENGINE[0]}"; do [[ $line == bestmove* ]] && break; done
    times+=("$(ms "$s" "$(now)")")
  done
  echo quit >&"${ENGINE[1]}"
  wait "$ENGINE_PID" || true
  echo "run $run: start-up to readyok $(ms "$t0" "$t1") ms, first go depth 10 ${times[0]} ms, second ${times[1]} ms"
done
