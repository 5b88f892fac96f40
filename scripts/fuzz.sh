#!/usr/bin/env bash
# Runs a fuzz target under libFuzzer for a while, on a scratch copy of its
# seed corpus (the committed corpus does not grow), and prints libFuzzer's
# final statistics.
#   fuzz.sh TARGET SECONDS   one target: frame_codec, engine, image_loader,
#                            device_frame_reader, command_lines, json_line,
#                            cli_options, port_arguments or serial_devices
#   fuzz.sh all SECONDS      each target in turn, SECONDS each
# Builds the fuzz preset (clang, build/fuzz) first when needed. An input that
# breaks an invariant is kept in BUILD/findings/TARGET/ and the script
# fails (with all, after every target has had its turn). libFuzzer options
# may follow, e.g. fuzz.sh engine 60 -max_len=8192.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(frame_codec engine image_loader device_frame_reader command_lines json_line cli_options port_arguments
         serial_devices)
if [[ $# -lt 2 ]]; then
  echo "usage: $0 TARGET|all SECONDS [LIBFUZZER_OPTION...]" >&2
  echo "targets: ${targets[*]}" >&2
  exit 2
fi
target=$1
seconds=$2
shift 2

# clang with libFuzzer and the sanitizer runtimes, lld, llvm-symbolizer.
scripts/ensure-deps.sh cmake ninja-build clang libclang-rt-14-dev lld llvm
# The fuzz preset's own folder, or TARNWICK_FUZZ_BUILD: another clang build
# made with TARNWICK_FUZZ (the test script uses the asan preset's).
build=${TARNWICK_FUZZ_BUILD:-build/fuzz}
if [[ $build == build/fuzz ]]; then
  [[ -f build/fuzz/CMakeCache.txt ]] || cmake --preset fuzz
  cmake --build --preset fuzz --parallel 2
else
  cmake --build "$build" --parallel 2 --target tarnwick_fuzzers
fi

run_one() {
  local name=$1
  shift
  local program=$build/fuzz/fuzz_$name
  [[ -x $program ]] || { echo "no fuzz target $name (targets: ${targets[*]})" >&2; exit 2; }
  local scratch findings
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-fuzz-$name.XXXXXX")
  findings=$build/findings/$name
  mkdir -p "$findings"
  cp fuzz/corpus/"$name"/* "$scratch"/
  echo "== fuzzing $name for $seconds s"
  local status=0
  "$program" "$scratch" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$findings"/ "$@" 2> "$scratch.log" || status=$?
  # The last progress line (executions, coverage, features) and the final statistics.
  grep -E '^#[0-9]+' "$scratch.log" | tail -n 1 || true
  grep -E '^(stat::|Done )' "$scratch.log" || true
  if [[ $status -ne 0 ]]; then
    grep -E -A 30 'invariant broken|ERROR:|runtime error' "$scratch.log" | head -n 60 >&2 || true
    echo "fuzz target $name failed; the input is in $findings/" >&2
  fi
  rm -rf "$scratch" "$scratch.log"
  return "$status"
}

if [[ $target == all ]]; then
  # Every target gets its turn; the script fails at the end if any did.
  failed=()
  for name in "${targets[@]}"; do run_one "$name" "$@" || failed+=("$name"); done
  if [[ ${#failed[@]} -gt 0 ]]; then
    echo "fuzz targets that failed: ${failed[*]}" >&2
    exit 1
  fi
else
  run_one "$target" "$@"
fi
