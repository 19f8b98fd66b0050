#!/usr/bin/env bash
# A fastchess match between two engines, for network and build comparisons.
#
#   bench/match.sh NAME1 CMD1 NET1 NAME2 CMD2 NET2 [fastchess arguments...]
#
# NET is a network file passed as NetFile, or - to leave the engine as it is
# (other engines, or Velmora's default network). Settings come from the
# environment: FASTCHESS (the fastchess binary, default /work/tools/fastchess/
# fastchess or fastchess on PATH), GAMES (pairs of games, default 200), TC
# (default 10+0.1; empty to use NODES alone), NODES (a node limit per move),
# CONCURRENCY (default 2), BOOK (default the noob_3moves book of
# ../shared/data/books; .pgn or .epd), VARIANT (fischerandom for Chess960
# books), OPTIONS1 and OPTIONS2 (extra UCI options of each engine as
# "Name=value ..."), SPRT ("elo0 elo1", alpha = beta = 0.05), PGN (file for
# the games), RESUME (non-empty: go on with the stopped match whose state
# fastchess saved as config.json in the current folder; that file describes
# the whole match, so the other settings are not read). The summary fastchess
# prints at the end has the W/L/D and Elo.
set -euo pipefail
[ $# -ge 6 ] || { sed -n '2,18p' "$0"; exit 2; }
here=$(cd "$(dirname "$0")/.." && pwd)
fastchess=${FASTCHESS:-/work/tools/fastchess/fastchess}
[ -x "$fastchess" ] || fastchess=$(command -v fastchess) || { echo "fastchess not found (set FASTCHESS)"; exit 2; }
[ -z "${RESUME:-}" ] || exec "$fastchess" -config file=config.json
book=${BOOK:-$here/../shared/data/books/noob_3moves.epd}

engine() {  # name cmd net options
  local args=(-engine "cmd=$2" "name=$1") option
  [ "$3" != "-" ] && args+=("option.NetFile=$3")
  for option in $4; do args+=("option.$option"); done
  printf '%s\n' "${args[@]}"
}
mapfile -t first < <(engine "$1" "$2" "$3" "${OPTIONS1:-}")
mapfile -t second < <(engine "$4" "$5" "$6" "${OPTIONS2:-}")
shift 6

each=(option.Hash=16 option.Threads=1)
[ -n "${TC-10+0.1}" ] && each+=("tc=${TC-10+0.1}")
[ -n "${NODES:-}" ] && each+=("nodes=$NODES")
extra=()
if [ -n "${SPRT:-}" ]; then
  read -r elo0 elo1 <<<"$SPRT"
  extra+=(-sprt "elo0=$elo0" "elo1=$elo1" alpha=0.05 beta=0.05)
fi
[ -n "${PGN:-}" ] && extra+=(-pgnout "file=$PGN")
[ -n "${VARIANT:-}" ] && extra+=(-variant "$VARIANT")
format=epd
[[ $book == *.pgn ]] && format=pgn

exec "$fastchess" "${first[@]}" "${second[@]}" -each "${each[@]}" \
  -openings "file=$book" "format=$format" order=random -rounds "${GAMES:-200}" -games 2 -repeat \
  -concurrency "${CONCURRENCY:-2}" -recover "${extra[@]}" "$@"
