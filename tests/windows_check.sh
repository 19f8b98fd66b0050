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
cd "$(dirname "$0")/.."
reference=${1:-build-tests/release/velmora}
dir=build-tests/windows
exe=$dir/velmora.exe
export WINEDEBUG=-all WINEPREFIX="$PWD/$dir/wineprefix"

pass() { echo "PASS windows $1"; }
fail() { echo "FAIL windows $1: $2"; }

mkdir -p "$dir"
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null; then
  for check in banner perft search tablebase; do fail $check "mingw-w64 or wine missing (tools/setup.sh installs them)"; done
  exit 1
fi
if ! cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=tools/mingw-w64.cmake -DVELMORA_TESTS=OFF >"$dir/build.log" 2>&1 ||
   ! ninja -C "$dir" velmora >>"$dir/build.log" 2>&1; then
  tail -20 "$dir/build.log"
  for check in banner perft search tablebase; do fail $check "the Windows build failed"; done
  exit 1
fi

# Runs the engine on the commands (one per argument), waits until a line
# starting with the last argument appears (at most 60 s), then quits. The
# output is left in $dir/out.txt.
session() {
  local await=${*: -1} fifo=$dir/in.fifo out=$dir/out.txt
  rm -f "$fifo" "$out"
  mkfifo "$fifo"
  timeout 120 wine "$exe" <"$fifo" >"$out" 2>/dev/null &
  local pid=$!
  exec 3>"$fifo"
  local command
  for command in "${@:1:$#-1}"; do echo "$command" >&3; done
  for _ in $(seq 600); do
    grep -q "^$await" "$out" 2>/dev/null && break
    sleep 0.1
  done
  echo quit >&3
  exec 3>&-
  wait $pid
  rm -f "$fifo"
}

status=0

session uci uciok
if [ "$(head -1 "$dir/out.txt" | tr -d '\r')" = "Velmora 3.0 AVX2" ] && grep -q '^id name Velmora 3.0 AVX2' "$dir/out.txt" &&
   grep -q '^option name WindowsNumaNode type spin default 0 min 0 max 4' "$dir/out.txt" && grep -q '^uciok' "$dir/out.txt"; then
  pass banner
else
  fail banner "$(head -3 "$dir/out.txt" | tr '\n' '|')"; status=1
fi

suite=$dir/perft-moderate.txt
awk -F';' '$2 + 0 <= 4' tests/data/perft/standard.txt >"$suite"
session "rtest $suite" "Results of the perft checks"
positions=$(wc -l <"$suite")
matched=$(grep -c '^1; ' "$dir/out.txt")
if [ "$positions" -gt 0 ] && [ "$matched" -eq "$positions" ] && grep -q 'Results of the perft checks is OK: 1' "$dir/out.txt"; then
  pass "perft ($positions positions)"
else
  fail perft "$matched of $positions positions match"; status=1
  grep '^0; ' "$dir/out.txt" | head -5
fi

session "position startpos moves e2e4" "go depth 8" bestmove
move=$(grep '^bestmove' "$dir/out.txt" | tail -1 | awk '{print $2}' | tr -d '\r')
if [ -z "$move" ]; then
  fail search "no bestmove"; status=1
elif [ ! -x "$reference" ]; then
  fail search "no Linux build at $reference to check $move"; status=1
elif printf 'position startpos moves e2e4 %s\nquit\n' "$move" | "$reference" | grep -q 'Illegal move'; then
  fail search "illegal move $move"; status=1
else
  pass "search (bestmove $move)"
fi

session "setoption name SyzygyPath value tests/data/syzygy/tables" "position fen k7/5B2/1P6/8/8/5K2/8/8 w - - 0 73" \
  "go depth 3" bestmove
if grep -q '^info string Syzygy tablebases used from directory' "$dir/out.txt" &&
   grep -q 'tbhits [1-9]' "$dir/out.txt" && grep -q '^bestmove f7d5' "$dir/out.txt"; then
  pass tablebase
else
  fail tablebase "$(grep -E '^(info string|bestmove)' "$dir/out.txt" | tr '\n' '|')"; status=1
fi
exit $status
