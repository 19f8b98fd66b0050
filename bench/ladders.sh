#!/usr/bin/env bash
# Places a Velmora build on the ladders the README reports: Ethereal 12 on
# two opening books and on Chess960, and Stockfish 15.1 limited to Elo 2800,
# all at 10+0.1, one thread and Hash 16 each, 2 games at a time
# (CONCURRENCY=1: one, leaving the other core to the data generator).
#
#   bench/ladders.sh NAME BINARY [noob] [8moves] [960] [sf]
#
# NAME      label of the build (its network, say); results go to
#           $LADDERS/NAME/LADDER (default ../velmora-data/ladders)
# BINARY    the engine, with its built-in network (or set NET to a file)
# A ladder stopped part-way (SIGINT to fastchess, or a lost session) goes on
# from fastchess's saved state when run again, and the ladders after it wait
# for that run; a finished one prints its summary again without replaying.
# Games per ladder: noob_3moves 400, 8moves_v3 200, Chess960 100,
# Stockfish 100.
set -euo pipefail
[ $# -ge 3 ] || { sed -n '2,16p' "$0"; exit 2; }
here=$(cd "$(dirname "$0")/.." && pwd)
name=$1 binary=$(realpath "$2")
shift 2
books=$here/../shared/data/books
root=${LADDERS:-$here/../velmora-data/ladders}/$name
ethereal=${ETHEREAL:-/usr/games/ethereal-chess}
stockfish=${STOCKFISH:-/usr/games/stockfish}

for ladder in "$@"; do
  opponent=(Ethereal12 "$ethereal" -) book=$books/8moves_v3.pgn
  variant="" options2="" pairs=100
  case $ladder in
    noob) book=$books/noob_3moves.epd pairs=200 ;;
    8moves) ;;
    960) book=$books/chess960.epd variant=fischerandom pairs=50 ;;
    sf) opponent=(Stockfish2800 "$stockfish" -) pairs=50
        options2="UCI_LimitStrength=true UCI_Elo=2800" ;;
    *) echo "unknown ladder $ladder (noob, 8moves, 960, sf)"; exit 2 ;;
  esac
  dir=$root/$ladder
  mkdir -p "$dir"
  if [ ! -s "$dir/result.txt" ]; then
    # fastchess keeps a stopped match's state in config.json of the folder it runs in.
    resume=""
    [ -s "$dir/config.json" ] && resume=1
    (cd "$dir" && RESUME=$resume GAMES=$pairs BOOK=$book VARIANT=$variant OPTIONS2=$options2 \
      PGN=$dir/games.pgn "$here/bench/match.sh" "Velmora-$name" "$binary" "${NET:--}" \
      "${opponent[@]}" >> "$dir/log.txt" 2>&1) || true
    # Only a match that played all its games counts as finished.
    if grep -q "Games: $((2 * pairs))," "$dir/log.txt"; then
      tac "$dir/log.txt" | sed '/^Results of/q' | tac > "$dir/result.txt"
    fi
  fi
  echo "== $name $ladder"
  if [ -s "$dir/result.txt" ]; then cat "$dir/result.txt"
  else
    echo "unfinished, $(grep -o 'Games: [0-9]*' "$dir/log.txt" | tail -1 || true) (see $dir/log.txt)"
    # Stopped by hand (SIGINT to fastchess) or cut short: the next ladder
    # waits for the next run rather than starting behind the user's back.
    exit 1
  fi
done
