#!/usr/bin/env bash
# Time to a fixed depth with one and with two threads over the positions
# below, each searched from a cleared hash table; prints both times and the
# speed-up.
#   bench/smp_speedup.sh [velmora binary] [depth]
set -euo pipefail
engine=${1:-build/velmora}
depth=${2:-16}
positions=(
  "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"
  "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 10"
  "4rrk1/pp1n3p/3q2pQ/2p1pb2/2PP4/2P3N1/P2B2PP/4RRK1 b - - 7 19"
  "rq3rk1/ppp2ppp/1bnpb3/3N2B1/3NP3/7P/PPPQ1PP1/2KR3R w - - 7 14"
  "r3r1k1/2p2ppp/p1p1bn2/8/1q2P3/2NPQN2/PPP3PP/R4RK1 b - - 2 15"
  "r1bq1rk1/ppp1nppp/4n3/3p3Q/3P4/1BP1B3/PP1N2PP/R4RK1 w - - 1 16"
  "3q2k1/pb3p1p/4pbp1/2r5/PpN2N2/1P2P2P/5PP1/Q2R2K1 b - - 4 26"
  "8/pp2r1k1/2p1p3/3pP2p/1P1P1P1P/P5KR/8/8 w - - 0 1"
)

run() {  # threads -> total milliseconds of the searches
  local threads=$1 total=0 line start end
  coproc ENGINE { "$engine"; }
  echo "setoption name Threads value $threads" >&"${ENGINE[1]}"
  echo "setoption name Hash value 64" >&"${ENGINE[1]}"
  for fen in "${positions[@]}"; do
    echo "ucinewgame" >&"${ENGINE[1]}"
    echo "position fen $fen" >&"${ENGINE[1]}"
    echo "isready" >&"${ENGINE[1]}"
    while read -r line <&"${ENGINE[0]}"; do [ "$line" = readyok ] && break; done
    while read -r line <&"${ENGINE[0]}"; do [ "$line" = readyok ] && break; done  # ucinewgame answers too
    start=$(date +%s%N)
    echo "go depth $depth" >&"${ENGINE[1]}"
    while read -r line <&"${ENGINE[0]}"; do [[ $line == bestmove* ]] && break; done
    end=$(date +%s%N)
    total=$(( total + (end - start) / 1000000 ))
  done
  echo quit >&"${ENGINE[1]}"
  wait "$ENGINE_PID" 2>/dev/null || true
  echo "$total"
}

one=$(run 1)
two=$(run 2)
echo "depth $depth over ${#positions[@]} positions: 1 thread ${one} ms, 2 threads ${two} ms"
awk -v a="$one" -v b="$two" 'BEGIN { printf "two-thread speed-up in time to depth: %.2f\n", a / b }'
