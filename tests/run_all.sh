#!/usr/bin/env bash
# Builds Velmora three times and runs the tests:
#   release          every test (fast and slow labels)
#   address,undefined  the fast tests under ASan + UBSan (test program only)
#   thread           the fast tests under TSan (test program only)
#   windows          the mingw-w64 cross-build, checked under wine
#                    (tests/windows_check.sh; one count per check)
#   openbench        the real OpenBench server, client and match runner build,
#                    bench and play Velmora offline (tests/openbench_e2e.sh;
#                    one count per check; skipped without ../shared/openbench)
# Prints one closing line "N passed, N failed" and fails when any test fails.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
passed=0 failed=0 status=0

# Sanitizer builds at -O1 -g1: much faster to compile than -O2 -g, nearly as
# fast to run, and the reports still name files and lines.
sanitizer_flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")

run() {  # name, cmake sanitizer value, ctest label filter, ninja targets (all when empty)
  local name=$1 sanitize=$2 labels=$3 targets=${4:-} dir=build-tests/$1 build_type=(-DCMAKE_BUILD_TYPE=Release)
  [ -z "$sanitize" ] || build_type=("${sanitizer_flags[@]}")
  echo "=== $name build ==="
  if ! cmake -S . -B "$dir" -G Ninja "${build_type[@]}" -DVELMORA_SANITIZE="$sanitize" >/dev/null ||
     ! ninja -C "$dir" -j "$jobs" $targets >/dev/null; then
    echo "$name: build failed"
    failed=$((failed + 1)); status=1; return
  fi
  echo "=== $name tests ==="
  local log bad total
  log=$(mktemp)
  ctest --test-dir "$dir" $labels --output-on-failure -j "$jobs" --timeout 1200 2>&1 | tee "$log" | grep -vE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed'
  read -r bad total < <(sed -nE 's/^[0-9]+% tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1 \2/p' "$log" | tail -1)
  rm -f "$log"
  if [ -z "$total" ]; then
    failed=$((failed + 1)); status=1; return
  fi
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  [ "$bad" -eq 0 ] || status=1
}

windows() {
  echo "=== windows build and checks ==="
  local log good bad
  log=$(mktemp)
  bash tests/windows_check.sh build-tests/release/velmora 2>&1 | tee "$log"
  good=$(grep -c '^PASS windows' "$log")
  bad=$(grep -c '^FAIL windows' "$log")
  rm -f "$log"
  # Four checks are due; one that printed nothing counts as failed.
  [ $((good + bad)) -ge 4 ] || bad=$((4 - good))
  passed=$((passed + good))
  failed=$((failed + bad))
  [ "$bad" -eq 0 ] || status=1
}

openbench() {
  echo "=== openbench end-to-end ==="
  local log good bad start rc
  log=$(mktemp)
  start=$(date +%s)
  bash tests/openbench_e2e.sh build-tests/release 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  good=$(grep -c '^PASS openbench' "$log")
  bad=$(grep -c '^FAIL openbench' "$log")
  # A run that stopped before any verdict, or that failed as a whole, counts
  # as one failure; a skip counts as nothing.
  if ! grep -q '^SKIP openbench' "$log" && [ $((good + bad)) -eq 0 ]; then bad=1; fi
  if [ "$rc" -ne 0 ] && [ "$bad" -eq 0 ]; then bad=1; fi
  rm -f "$log"
  echo "openbench stage: $(( $(date +%s) - start )) s"
  passed=$((passed + good))
  failed=$((failed + bad))
  [ "$bad" -eq 0 ] || status=1
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

run release "" ""
windows
openbench
# The sanitizer stages build only the fast tests and the programs they start.
run asan-ubsan "address,undefined" "-L fast" velmora_tests
run tsan "thread" "-L fast" velmora_tests

echo "$passed passed, $failed failed"
exit $status
