#!/usr/bin/env bash
# Move-generator speed against Stockfish: perft 6 from the start position and
# perft 5 from Kiwipete, each run 3 times, best time kept.
#
#   bench/perft_vs_stockfish.sh [velmora-binary] [stockfish-binary]
#
# Velmora reports its own perft time. Stockfish 15.1 prints no time for
# "go perft", so it is timed from outside and the start-up cost (best of 3
# runs that only quit) is subtracted.
set -euo pipefail

VELMORA=${1:-build/velmora}
STOCKFISH=${2:-$(command -v stockfish || echo /usr/games/stockfish)}
RUNS=3

[[ -x $VELMORA ]] || { echo "no Velmora binary at $VELMORA" >&2; exit 1; }
[[ -x $STOCKFISH ]] || { echo "no Stockfish binary at $STOCKFISH" >&2; exit 1; }

# name|depth|fen
POSITIONS=(
  "startpos|6|rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
  "kiwipete|5|r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1"
)

now_ns() { date +%s%N; }

# Prints "nodes ns" for one Velmora run.
velmora_perft() {
  local out nodes ns
  out=$(printf 'position fen %s\nperft %s\nquit\n' "$2" "$1" | "$VELMORA")
  nodes=$(grep -oE 'Perft results for depth: [0-9]+ +[0-9]+' <<<"$out" | awk '{print $NF}')
  ns=$(grep -oE '[0-9]+ ns and' <<<"$out" | awk '{print $1}')
  [[ -n $nodes && -n $ns ]] || { echo "could not read Velmora's perft output:" >&2; echo "$out" >&2; exit 1; }
  echo "$nodes $ns"
}

# Prints "nodes ns" for one Stockfish run, start-up included.
stockfish_perft() {
  local out start end nodes
  start=$(now_ns)
  out=$(printf 'position fen %s\ngo perft %s\nquit\n' "$2" "$1" | "$STOCKFISH")
  end=$(now_ns)
  nodes=$(grep -oE 'Nodes searched: [0-9]+' <<<"$out" | awk '{print $NF}')
  [[ -n $nodes ]] || { echo "could not read Stockfish's perft output:" >&2; echo "$out" >&2; exit 1; }
  echo "$nodes $((end - start))"
}

best_of() {  # command...: runs it RUNS times, prints the line with the least ns
  local best="" line
  for ((i = 0; i < RUNS; i++)); do
    line=$("$@")
    if [[ -z $best || ${line#* } -lt ${best#* } ]]; then best=$line; fi
  done
  echo "$best"
}

startup_ns() {
  local start end
  start=$(now_ns)
  printf 'quit\n' | "$STOCKFISH" >/dev/null
  end=$(now_ns)
  echo "0 $((end - start))"
}

rate() { awk -v n="$1" -v t="$2" 'BEGIN { printf "%.0f", (t > 0 ? n / (t / 1e9) : 0) }'; }
secs() { awk -v t="$1" 'BEGIN { printf "%.3f", t / 1e9 }'; }

overhead=$(best_of startup_ns)
overhead=${overhead#* }
echo "Velmora:   $VELMORA"
echo "Stockfish: $STOCKFISH ($(printf 'quit\n' | "$STOCKFISH" | sed -n 1p))"
echo "best of $RUNS runs; Stockfish start-up of $(secs "$overhead") s subtracted"
echo
printf '%-9s %-5s %-9s %12s %9s %14s\n' position depth engine nodes seconds nodes/s
ratio_line=()
for entry in "${POSITIONS[@]}"; do
  IFS='|' read -r name depth fen <<<"$entry"
  read -r vn vt <<<"$(best_of velmora_perft "$depth" "$fen")"
  read -r sn st <<<"$(best_of stockfish_perft "$depth" "$fen")"
  st=$((st - overhead))
  ((st > 0)) || st=1
  vr=$(rate "$vn" "$vt")
  sr=$(rate "$sn" "$st")
  printf '%-9s %-5s %-9s %12s %9s %14s\n' "$name" "$depth" Velmora "$vn" "$(secs "$vt")" "$vr"
  printf '%-9s %-5s %-9s %12s %9s %14s\n' "$name" "$depth" Stockfish "$sn" "$(secs "$st")" "$sr"
  [[ $vn == "$sn" ]] || echo "  node counts differ: Velmora $vn, Stockfish $sn" >&2
  ratio_line+=("$name $(awk -v a="$vr" -v b="$sr" 'BEGIN { printf "%.2f", a / b }')")
done
echo
for r in "${ratio_line[@]}"; do echo "Velmora/Stockfish speed ratio, ${r% *}: ${r##* }"; done
