#!/usr/bin/env bash
# Cross-builds the Windows executable with mingw-w64 and runs it under wine:
#   banner    start-up banner and the "uci" reply
#   perft     the standard perft suite's positions of depth 4 and less
#   search    a short search with the default network gives a legal move
#   tablebase a 4-man root probe through the Windows file mapping gives
#             the one move that is optimal by distance to zero
# Prints one line per check, "PASS windows NAME" or "FAIL windows NAME: why".
# Argument: a Linux build of the engine, the referee for move legality.
set -uo pipefail
# A quit written after wine has gone must fail that one check, not end the script.
trap '' PIPE
cd "$(dirname "$0")/.."
reference=${1:-build-tests/release/velmora}
dir=build-tests/windows
exe=$dir/velmora.exe
out=$dir/out.txt
export WINEDEBUG=-all WINEPREFIX="$PWD/$dir/wineprefix"

status=0
pass() { echo "PASS windows $1"; }
fail() { echo "FAIL windows $1: $2"; status=1; }
fail_all() { for check in banner perft search tablebase; do fail $check "$1"; done; exit 1; }

mkdir -p "$dir"
command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null ||
  fail_all "mingw-w64 or wine missing (tools/setup.sh installs them)"
if ! cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=tools/mingw-w64.cmake -DVELMORA_TESTS=OFF >"$dir/build.log" 2>&1 ||
   ! ninja -C "$dir" velmora >>"$dir/build.log" 2>&1; then
  tail -20 "$dir/build.log"
  fail_all "the Windows build failed"
fi

# Runs the engine on the commands (one per argument), waits until a line
# starting with the last argument appears (at most 60 s), then quits. The
# output is left in $out.
session() {
  local await=${*: -1} fifo=$dir/in.fifo
  rm -f "$fifo" "$out" && mkfifo "$fifo"
  timeout 120 wine "$exe" <"$fifo" >"$out" 2>/dev/null &
  local pid=$!
  exec 3>"$fifo"
  printf '%s\n' "${@:1:$#-1}" >&3
  for _ in $(seq 600); do grep -q "^$await" "$out" 2>/dev/null && break; sleep 0.1; done
  echo quit >&3
  exec 3>&-
  wait $pid
  rm -f "$fifo"
}

session uci uciok
[ "$(head -1 "$out" | tr -d '\r')" = "Velmora 3.0 AVX2" ] && grep -q '^id name Velmora 3.0 AVX2' "$out" &&
  grep -q '^option name WindowsNumaNode type spin default 0 min 0 max 4' "$out" && grep -q '^uciok' "$out" &&
  pass banner || fail banner "$(head -3 "$out" | tr '\n' '|')"

suite=$dir/perft-moderate.txt
awk -F';' '$2 + 0 <= 4' tests/data/perft/standard.txt >"$suite"
session "rtest $suite" "Results of the perft checks"
positions=$(wc -l <"$suite")
matched=$(grep -c '^1; ' "$out")
if [ "$positions" -gt 0 ] && [ "$matched" -eq "$positions" ] && grep -q 'Results of the perft checks is OK: 1' "$out"; then
  pass "perft ($positions positions)"
else
  fail perft "$matched of $positions positions match"
  grep '^0; ' "$out" | head -5
fi

session "position startpos moves e2e4" "go depth 8" bestmove
move=$(awk '/^bestmove/ {m = $2} END {print m}' "$out" | tr -d '\r')
if [ -z "$move" ]; then
  fail search "no bestmove"
elif [ ! -x "$reference" ]; then
  fail search "no Linux build at $reference to check $move"
elif printf 'position startpos moves e2e4 %s\nquit\n' "$move" | "$reference" | grep -q 'Illegal move'; then
  fail search "illegal move $move"
else
  pass "search (bestmove $move)"
fi

session "setoption name SyzygyPath value tests/data/syzygy/tables" "position fen k7/5B2/1P6/8/8/5K2/8/8 w - - 0 73" \
  "go depth 3" bestmove
grep -q '^info string Syzygy tablebases used from directory' "$out" && grep -q 'tbhits [1-9]' "$out" &&
  grep -q '^bestmove f7d5' "$out" && pass tablebase ||
  fail tablebase "$(grep -E '^(info string|bestmove)' "$out" | tr '\n' '|')"
exit $status
