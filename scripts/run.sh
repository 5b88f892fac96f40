#!/usr/bin/env bash
# Sets up what is missing, builds everything and runs the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
bin=build/default
work=build/demo
mkdir -p "$work"
# A sample firmware image made with the product's own packer.
head -c 1000 /dev/urandom > "$work/sample.bin"
"$bin/tools/tarnwick-pack" "$work/sample.bin" "$work/SAMPLE.UPL"
"$bin/tools/tarnwick-pack" --unpack "$work/SAMPLE.UPL" "$work/sample-check.bin"
cmp "$work/sample.bin" "$work/sample-check.bin"
echo "Packed $work/SAMPLE.UPL ($(stat -c %s "$work/SAMPLE.UPL") bytes) and read it back unchanged."
