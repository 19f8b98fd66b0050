#!/usr/bin/env bash
# Planted-fault check of the test suite (a developer tool, not part of CI).
#
#   tools/mutants.sh [REV] [ID...]
#
# Copies the sources of REV (default HEAD) to build-mutants/src, builds the
# test program there, then plants the faults listed below one at a time: the
# file is edited, the test program rebuilt incrementally, the fast tests run,
# the file restored (also on failure or interrupt). Each fault is reported
# "caught" when a test fails or the tests run past the time-out, "missed"
# when every fast test passes. With IDs only those faults are planted.
#
# The fast tests run in two stages: first the test suites of the test
# folders named with the fault (where a failure is most likely, so a caught
# fault usually costs seconds), then, only if those pass, every other fast
# test. The two stages together are the whole fast suite, so a fault counts
# as missed only when the whole fast suite passes; the stages only change how
# soon a caught fault stops the run. Each stage runs as two shards in
# parallel and stops at the first failing test.
#
# Before the faults it prints the line counts: non-blank lines of the C++
# sources, headers, shell and CMake files under tests/ (tests/data, the
# reference data, excluded) against the same kinds of files in the engine's
# folders board eval search uci tablebase tuning platform train tools bench
# (this script excluded: it is test tooling).
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
rev=${1:-HEAD}
shift || true
only=("$@")
work=$repo/build-mutants
src=$work/src
build=$work/build
log=$work/log
mkdir -p "$work" "$log"

# The faults: ID @@ test folders tried first @@ file @@ text @@ replacement.
# The text's first occurrence is replaced.
read -r -d '' FAULTS <<'EOF'
board-promo-knight @@ board @@ board/movegen.cpp @@ {FLAG_PROMO_Q, FLAG_PROMO_R, FLAG_PROMO_B, FLAG_PROMO_N} @@ {FLAG_PROMO_Q, FLAG_PROMO_R, FLAG_PROMO_B, FLAG_PROMO_B}
board-pin-ignored @@ board @@ board/movegen.cpp @@ if (pos.plyStack[ply].notPinned & bit(from)) return true; @@ if (pos.plyStack[ply].notPinned | bit(from)) return true;
board-castle-attacked @@ board @@ board/movegen.cpp @@ if (!attacked) *out++ @@ if (attacked || !attacked) *out++
board-fen-castle-right @@ board @@ board/fen.cpp @@ if (c == 'k') rights |= CASTLE_BK; @@ if (c == 'k') rights |= CASTLE_BQ;
board-fen-ep-square @@ board @@ board/fen.cpp @@ const int pawnSq = side == BLACK ? t + 8 : t - 8; @@ const int pawnSq = side == BLACK ? t - 8 : t + 8;
board-fen-ep-output @@ board @@ board/fen.cpp @@ st.epSquare + 8 : st.epSquare - 8 @@ st.epSquare - 8 : st.epSquare + 8
board-promo-letter @@ board @@ board/fen.cpp @@ "  ppnnbbrrqq" @@ "  ppnnbbqqrr"
eval-feature-index @@ eval @@ eval/nnue.cpp @@ features[n++] = featureIndex(persp, k, pos.board[sq], sq); @@ features[n++] = featureIndex(persp, k, pos.board[sq], sq ^ 1);
eval-knight-mobility @@ eval @@ eval/evaluate.cpp @@ st.mobility[C] += knightMobility[reach]; @@ st.mobility[C] += bishopMobility[reach];
eval-outpost-ranks @@ eval @@ eval/evaluate.cpp @@ RANK_3 | RANK_4 | RANK_5} @@ RANK_4 | RANK_5 | RANK_6}
eval-passed-mask @@ eval @@ eval/evaluate.cpp @@ passed |= bit(s); @@ passed |= bit(s) & 0;
search-see-value @@ search @@ search/qsearch.cpp @@ 566, 566, 1184 @@ 166, 166, 1184
search-see-sign @@ search @@ search/qsearch.cpp @@ gain -= SEE_VALUE[pos.board[from]]; @@ gain += SEE_VALUE[pos.board[from]];
search-history-sign @@ search @@ search/movepick.cpp @@ update(move, bonus); @@ update(move, -bonus);
search-tt-mate-ply @@ search @@ search/search.cpp @@ ttScore = ttScoreFromStore(entry.score(), ply); @@ ttScore = entry.score();
search-tt-replace-age @@ search @@ search/tt.cpp @@ - 4 * ((ttGeneration @@ + 4 * ((ttGeneration
search-time-overhead @@ search @@ search/timeman.cpp @@ const i64 remaining = i64(t) - moveOverhead; @@ const i64 remaining = i64(t) + moveOverhead;
search-time-hard-bound @@ search @@ search/timeman.cpp @@ std::min(hard, remaining), soft + 1 @@ std::max(hard, remaining), soft + 1
search-movetime @@ search @@ search/timeman.cpp @@ hardTimeMs = moveTime; @@ hardTimeMs = 2 * moveTime;
search-mate-moves @@ search @@ search/driver.cpp @@ (MATE_VALUE - score) / 2 + 1 @@ (MATE_VALUE - score) / 2
search-fifty-moves @@ search @@ search/search.cpp @@ if (pos.rule50 >= 100 && @@ if (pos.rule50 >= 1000 &&
search-stalemate @@ search @@ search/search.cpp @@ return st.inCheck ? ply - MATE_VALUE : 0; @@ return ply - MATE_VALUE;
uci-option-clamp @@ uci @@ uci/options.cpp @@ out = int(std::clamp(v, low, high)); @@ out = int(v);
uci-go-clamp @@ uci @@ uci/go.cpp @@ out = T(std::clamp<long long>(v, std::numeric_limits<T>::min(), std::numeric_limits<T>::max())); @@ out = T(v);
uci-go-winc @@ uci @@ uci/go.cpp @@ else if (word == "winc") @@ else if (word == "w-inc")
uci-hash-permille @@ uci @@ uci/hashreport.cpp @@ counts[i] * 100 / used @@ counts[i] * 1000 / used
uci-threads-min @@ uci @@ uci/options.cpp @@ spinValue(name, value, 1, 256, v) @@ spinValue(name, value, 0, 256, v)
tb-king-index @@ tablebase @@ tablebase/tbdecode.cpp @@ if (offDiagonal(k1) == 0 && offDiagonal(k2) > 0) continue; @@ if (offDiagonal(k1) == 0 && offDiagonal(k2) < 0) continue;
tb-wdl-sign @@ tablebase @@ tablebase/tbprobe.cpp @@ return (v > 0) - (v < 0); @@ return (v >= 0) - (v < 0);
tb-zeroing-pawn @@ tablebase @@ tablebase/tbposition.cpp @@ return (p.pawns & bit(tbFrom(m))) || tbIsCapture(p, m); @@ return tbIsCapture(p, m);
tb-signature-colour @@ tablebase @@ tablebase/tbfiles.cpp @@ TB_SIGNATURE_MULTIPLIER[c ^ int(reversed)][t] @@ TB_SIGNATURE_MULTIPLIER[c][t]
tuning-logistic-scale @@ tuning @@ tuning/texel.cpp @@ std::exp(-k * x / 400.0) @@ std::exp(-k * x / 40.0)
tuning-error-square @@ tuning @@ tuning/texel.cpp @@ sum += (r.target - p) * (r.target - p); @@ sum += (r.target - p);
tuning-side-sign @@ tuning @@ tuning/texel.cpp @@ if (pos.sideToMove == BLACK) e = -e; @@ if (pos.sideToMove == WHITE) e = -e;
platform-exe-dir @@ uci @@ platform/paths.cpp @@ readlink("/proc/self/exe" @@ readlink("/proc/self/cwd"
platform-map-regular @@ tablebase @@ platform/mapfile.cpp @@ if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) { @@ if (fstat(fd, &st) != 0) {
train-record-nibble @@ train @@ train/record.cpp @@ << ((i & 1) * 4) @@ << ((i & 1) * 3)
train-record-side @@ train @@ train/record.cpp @@ r.sideToMove = pos.sideToMove; @@ r.sideToMove = 0;
train-record-fullmove @@ train @@ train/record.cpp @@ std::to_string(r.ply / 2 + 1) @@ std::to_string(r.ply / 2)
EOF

# --- the sources of REV, copied so that the checkout is never edited -------
stage=$work/stage
rm -rf "$stage" && mkdir -p "$stage"
git -C "$repo" archive "$rev" | tar -x -C "$stage" || { echo "cannot read $rev"; exit 1; }
# Replace only the files whose content changed, so the build stays incremental.
python3 - "$stage" "$src" <<'PY'
import filecmp, os, shutil, sys
new, old = sys.argv[1:3]
os.makedirs(old, exist_ok=True)
for root, _, files in os.walk(new):
    for f in files:
        a = os.path.join(root, f); b = os.path.join(old, os.path.relpath(a, new))
        if not os.path.exists(b) or not filecmp.cmp(a, b, shallow=False):
            os.makedirs(os.path.dirname(b), exist_ok=True); shutil.copyfile(a, b)
for root, _, files in os.walk(old):
    for f in files:
        b = os.path.join(root, f)
        if not os.path.exists(os.path.join(new, os.path.relpath(b, old))): os.remove(b)
PY
rm -rf "$stage"
# The tests look for the shared data beside the source tree.
[ -e "$work/shared" ] || [ ! -d "$repo/../shared" ] || ln -s "$(cd "$repo/../shared" && pwd)" "$work/shared"

# --- line counts -----------------------------------------------------------
count() {  # non-blank lines of the counted kinds of file under the given paths
    find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.sh' -o -name '*.cmake' -o -name CMakeLists.txt \) \
        -not -path '*/tests/data/*' -not -path '*/tools/mutants.sh' -print0 2>/dev/null |
        xargs -0 cat | grep -cv '^[[:space:]]*$'
}
engine_dirs=()
for d in board eval search uci tablebase tuning platform train tools bench; do
    [ -d "$src/$d" ] && engine_dirs+=("$src/$d")
done
test_lines=$(count "$src/tests")
engine_lines=$(count "${engine_dirs[@]}")
echo "revision $(git -C "$repo" rev-parse --short "$rev")"
echo "test lines (tests/, data excluded): $test_lines"
echo "engine lines (board eval search uci tablebase tuning platform train tools bench): $engine_lines"
awk -v t="$test_lines" -v e="$engine_lines" 'BEGIN { printf "ratio: %.1f %%\n", 100 * t / e }'

# --- build -----------------------------------------------------------------
# -O1: the faults need many rebuilds; the tests do not depend on -O3.
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Mutants -DCMAKE_CXX_FLAGS_MUTANTS="-O1 -DNDEBUG" \
        >"$log/cmake.txt" 2>&1 || { echo "configure failed (see $log/cmake.txt)"; exit 1; }
fi
build_tests() { ninja -C "$build" -j2 velmora_tests >"$log/build.txt" 2>&1; }
build_tests || { echo "build failed (see $log/build.txt)"; exit 1; }
tests_bin=$build/tests/velmora_tests

# Suite names of the fast tests in the given test folders, as a gtest filter.
suites_of() {
    local names=() f
    for f in "$@"; do
        [ -d "$src/tests/$f" ] || continue
        names+=($(grep -ohE '^(TEST|TEST_F|TEST_P|TYPED_TEST|TYPED_TEST_P)\(\s*[A-Za-z0-9_]+' "$src"/tests/"$f"/*_test.cpp |
            sed -E 's/.*\(\s*//' | sort -u))
    done
    local filter="" n
    for n in "${names[@]}"; do filter+="$n.*:*/$n.*:"; done
    echo "${filter%:}"
}

# Runs the fast tests matching the filter in two parallel shards; stops at
# the first failure. Returns 0 when all pass, 1 on a failure, 2 on time-out.
run_stage() {  # filter, time-out seconds, log file
    local filter=$1 limit=$2 out=$3 pids=() rc=0 i
    for i in 0 1; do
        (cd "$build/tests" && GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$i timeout -k 5 "$limit" \
            "$tests_bin" --gtest_filter="$filter" --gtest_fail_fast --gtest_brief=1 >"$out.$i" 2>&1) &
        pids+=($!)
    done
    for i in 0 1; do
        wait -n "${pids[@]}" 2>/dev/null
        local r=$?
        if [ $r -ne 0 ]; then
            kill "${pids[@]}" 2>/dev/null
            wait "${pids[@]}" 2>/dev/null
            [ $r -eq 124 ] || [ $r -eq 137 ] && return 2
            return 1
        fi
    done
    return $rc
}

run_fast() {  # first-stage folders (space separated), time-out, log prefix
    local first rest r
    first=$(suites_of $1)
    if [ -n "$first" ]; then
        run_stage "$first" "$2" "$3.first"; r=$?
        [ $r -ne 0 ] && return $r
        rest="-$first"
    else
        rest="*"
    fi
    run_stage "$rest" "$2" "$3.rest"
}

# The unplanted suite must pass; its time sets the time-out.
start=$(date +%s)
if ! run_fast "board" 1800 "$log/clean"; then
    echo "the fast tests fail without a planted fault (see $log/clean.*)"; exit 1
fi
clean_s=$(( $(date +%s) - start ))
limit=$(( 3 * clean_s + 60 ))
echo "fast suite without faults: ${clean_s}s (time-out per stage ${limit}s)"

planted=""
restore() {
    if [ -n "$planted" ] && [ -f "$work/original" ]; then
        cp "$work/original" "$src/$planted"
        planted=""
    fi
}
trap 'restore; exit 130' INT TERM
trap restore EXIT

caught=0 missed=0 broken=0
while IFS= read -r line; do
    [ -z "$line" ] && continue
    id=$(awk -F ' @@ ' '{print $1}' <<<"$line")
    if [ ${#only[@]} -gt 0 ] && [[ ! " ${only[*]} " == *" $id "* ]]; then continue; fi
    folders=$(awk -F ' @@ ' '{print $2}' <<<"$line")
    file=$(awk -F ' @@ ' '{print $3}' <<<"$line")
    cp "$src/$file" "$work/original"
    planted=$file
    if ! python3 - "$src/$file" "$line" <<'PY'; then
import sys
path, line = sys.argv[1:3]
_, _, _, old, new = line.split(" @@ ")
text = open(path).read()
if old not in text: sys.exit(1)
open(path, "w").write(text.replace(old, new, 1))
PY
        echo "$id: not planted (text not found in $file)"
        restore; broken=$((broken + 1)); continue
    fi
    t0=$(date +%s)
    if ! build_tests; then
        echo "$id: does not build (see $log/build.txt)"
        cp "$log/build.txt" "$log/$id.build.txt"
        restore; broken=$((broken + 1)); continue
    fi
    rm -f "$log/$id".*
    run_fast "$folders" "$limit" "$log/$id"
    r=$?
    restore
    # The first failing test of each shard that stopped.
    by=$(grep -ho '^\[  FAILED  \] [A-Za-z0-9_/.]*' "$log/$id".* 2>/dev/null | cut -c14- | sort -u | tr '\n' ' ')
    case $r in
    0) verdict=missed; missed=$((missed + 1)) ;;
    2) verdict="caught (time-out)"; caught=$((caught + 1)) ;;
    *) verdict="caught by ${by% }"; caught=$((caught + 1)) ;;
    esac
    echo "$id: $verdict ($(( $(date +%s) - t0 ))s)"
done <<<"$FAULTS"
restore
build_tests  # leave the build matching the sources
echo "caught $caught, missed $missed, not planted $broken"
