#!/usr/bin/env bash
# Reliability soak against Ethereal 12 with fastchess: 1000 games at 2+0.02
# in four parts of 250 games (125 opening pairs):
#   standard book, Threads 1, Ponder off   (CONCURRENCY games at a time)
#   standard book, Threads 2, Ponder on    (one game at a time)
#   Chess960,      Threads 1, Ponder on    (CONCURRENCY games at a time)
#   Chess960,      Threads 2, Ponder off   (one game at a time)
# Velmora gets SyzygyPath; Debian's Ethereal 12 cannot take it (setting it
# exits with an unresolved tablebase symbol), so Ethereal plays without.
# The closing lines count, for Velmora only, crashes/disconnects/stalls
# ("abandoned"), illegal moves and time losses from the PGN terminations;
# the run fails unless all three are zero.
#
# Usage: bench/fastchess_soak.sh [fastchess] [velmora] [ethereal]
# Environment: GAMES_PER_PART (250), CONCURRENCY (nproc / 2), TC (2+0.02),
#   SYZYGY (../shared/data/syzygy), BOOK (noob_3moves.epd), BOOK960
#   (chess960.epd), OUT (soak-<date>), PARTS (the parts to play, default
#   all four). fastchess itself has no pondering ("go ponder"/"ponderhit");
#   Ponder on only changes the time budget here, and the protocol stress
#   test covers the ponder commands.
set -euo pipefail
cd "$(dirname "$0")/.."

fastchess=${1:-/work/tools/fastchess/fastchess}
velmora=$(realpath "${2:-build/velmora}")
ethereal=${3:-${ETHEREAL:-Ethereal}}
games=${GAMES_PER_PART:-250}
concurrency=${CONCURRENCY:-$(( $(nproc) / 2 > 0 ? $(nproc) / 2 : 1 ))}
tc=${TC:-2+0.02}
data=$(realpath ../shared/data)
syzygy=${SYZYGY:-$data/syzygy}
book=${BOOK:-$data/books/noob_3moves.epd}
book960=${BOOK960:-$data/books/chess960.epd}
out=${OUT:-soak-$(date +%Y%m%d-%H%M%S)}
parts=" ${PARTS:-standard-t1 standard-t2 chess960-t1 chess960-t2} "

for f in "$fastchess" "$velmora"; do
  [ -x "$f" ] || { echo "not executable: $f (usage: $0 [fastchess] [velmora] [ethereal])" >&2; exit 2; }
done
command -v "$ethereal" >/dev/null || [ -x "$ethereal" ] || { echo "Ethereal not found: $ethereal" >&2; exit 2; }
mkdir -p "$out"

part() {  # name, variant, book, threads, ponder, concurrency
  local name=$1 variant=$2 openings=$3 threads=$4 ponder=$5 games_at_once=$6
  [[ $parts == *" $name "* ]] || return 0
  echo "=== $name: $variant, Threads $threads, Ponder $ponder, $games_at_once at a time"
  "$fastchess" \
    -engine cmd="$velmora" name=Velmora option.Threads="$threads" option.Ponder="$ponder" \
      option.UCI_Chess960="$([ "$variant" = fischerandom ] && echo true || echo false)" \
      option.SyzygyPath="$syzygy" \
    -engine cmd="$ethereal" name=Ethereal option.Threads="$threads" \
    -each tc="$tc" option.Hash=16 \
    -variant "$variant" -openings file="$openings" format=epd order=random \
    -rounds $((games / 2)) -repeat -concurrency "$games_at_once" -recover \
    -pgnout file="$out/$name.pgn" notation=uci -log file="$out/$name.log" level=warn \
    | tee "$out/$name.txt" | grep -E '^(Finished game|Results|Elo|Games|  Crashed|  Timeouts)' || true
}

part standard-t1 standard "$book" 1 false "$concurrency"
part standard-t2 standard "$book" 2 true 1
part chess960-t1 fischerandom "$book960" 1 true "$concurrency"
part chess960-t2 fischerandom "$book960" 2 false 1

# Velmora's losses by termination, over all parts.
awk '
  /^\[White /       { white = $0 }
  /^\[Black /       { black = $0 }
  /^\[Result /      { result = $0 }
  /^\[Termination / {
    games++
    loser = result ~ /"1-0"/ ? black : result ~ /"0-1"/ ? white : ""
    if (loser ~ /Velmora/) {
      if ($0 ~ /abandoned/) crashes++
      else if ($0 ~ /illegal move/) illegal++
      else if ($0 ~ /time forfeit/) timeouts++
    }
  }
  END {
    printf "games %d: Velmora crashes/disconnects %d, illegal moves %d, time losses %d\n",
           games, crashes, illegal, timeouts
    exit (crashes + illegal + timeouts > 0)
  }' "$out"/*.pgn
