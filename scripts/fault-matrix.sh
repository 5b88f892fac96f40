#!/usr/bin/env bash
# Runs the fault matrix with many seeds (500 by default) and counts how the
# runs ended: the real engine and POSIX port against the simulated device on
# pseudo-terminals, with faults in both directions. Exits 1 if any run ended
# in success with a wrong image, hung or crashed.
#   scripts/fault-matrix.sh [SEEDS] [PARALLEL]
set -euo pipefail
cd "$(dirname "$0")/.."
seeds=${1:-500}
parallel=${2:-4}

scripts/ensure-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target fault_matrix_test tarnwick-device

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
start=$(date +%s)
pids=()
# The runs mostly wait on the line, so several shards share the cores well.
for ((shard = 0; shard < parallel; shard++)); do
  TARNWICK_MATRIX_SEEDS=$seeds GTEST_TOTAL_SHARDS=$parallel GTEST_SHARD_INDEX=$shard \
    build/default/tests/integration/fault_matrix_test --gtest_brief=1 >"$out/shard-$shard.txt" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done

cat "$out"/shard-*.txt > "$out/all.txt"
runs=$(grep -c '^fault-matrix seed ' "$out/all.txt" || true)
echo "$runs runs of $seeds seeds in $(($(date +%s) - start)) s; how they ended:"
sed -n 's/^fault-matrix seed [0-9]* (\([^,]*\),.*): *\(.*\)$/\1: \2/p' "$out/all.txt" |
  sed 's/ *$//' | sort | uniq -c | sort -rn
grep -A8 -E '^\[  FAILED|Failure' "$out/all.txt" || true
for file in "$out"/shard-*.txt; do
  if ! grep -q '^\[==========\] .* ran\.' "$file"; then
    echo "$(basename "$file" .txt) did not finish; its last lines:"
    tail -n 20 "$file"
  fi
done
failed=$(grep -c '^\[  FAILED  \] Seeds/' "$out/all.txt" || true)
echo "$((runs - failed)) passed, $failed failed"
[[ $status -eq 0 && $runs -eq $seeds && $failed -eq 0 ]]
