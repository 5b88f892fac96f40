#!/usr/bin/env bash
# How close tarnwick-cli comes to the line's limit: a 65,536-byte image into
# the simulated device paced at 4800 baud, once alone and once as a station
# of four devices at once. Prints each run's time, its ratio to the limit
# and to the solo run, and the station's CPU use. Takes about 2.5 minutes a
# configuration; not part of the test suite.
#   bench/cli-bench.sh [BUILD_DIR]     (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
cli=$build/ui/cli/tarnwick-cli
device=$build/device/tarnwick-device
pack=$build/tools/tarnwick-pack
for tool in "$cli" "$device" "$pack"; do
  [[ -x $tool ]] || { echo "missing $tool: build first (cmake --build $build)"; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

head -c 65536 /dev/urandom > "$work/image.bin"
"$pack" "$work/image.bin" "$work/IMAGE.UPL"

# Bytes on the line in a whole run: the handshake (14), 512 blocks of 133,
# 513 requests of 6 (the last asks past the end and gets an empty block of
# 5), and the result (6); 10 bits a byte at 4800 baud.
line_bytes=$((14 + 512 * 133 + 513 * 6 + 5 + 6))
limit=$(awk -v b="$line_bytes" 'BEGIN { printf "%.1f", b * 10 / 4800 }')
echo "line limit: $line_bytes bytes at 4800 baud, 10 bits a byte = $limit s"

# start_devices N: N paced devices; their pseudo-terminals in $ports.
devices_started=0
start_devices() {
  ports=()
  local i
  for ((n = 0; n < $1; n++)); do
    i=$((devices_started++))
    mkfifo "$work/dev$i.out"
    "$device" --baud 4800 --runs 1 --expect "$work/image.bin" > "$work/dev$i.out" 2>&1 &
    pids+=($!)
    exec {fd}<"$work/dev$i.out"
    read -r -t 10 pty <&"$fd"
    cat <&"$fd" > "$work/dev$i.log" &
    ports+=("$pty")
  done
}

# run NAME COMMAND...: runs tarnwick-cli, prints each result and the CPU it used.
run() {
  local name=$1
  shift
  local TIMEFORMAT="%U %S %R"
  { time "$cli" "$@" --json "${ports[@]}" "$work/IMAGE.UPL" > "$work/$name.json" 2> "$work/$name.err"; } 2> "$work/$name.time" ||
    { echo "$name: tarnwick-cli failed"; cat "$work/$name.err"; exit 1; }
  read -r user system real < "$work/$name.time"
  grep '"event":"result"' "$work/$name.json" | while read -r line; do
    port=$(sed -E 's/.*"port":"([^"]*)".*/\1/' <<< "$line")
    outcome=$(sed -E 's/.*"outcome":"([^"]*)".*/\1/' <<< "$line")
    seconds=$(sed -E 's/.*"seconds":([0-9.]+).*/\1/' <<< "$line")
    awk -v n="$name" -v p="$port" -v o="$outcome" -v s="$seconds" -v l="$limit" -v solo="${solo:-0}" 'BEGIN {
      printf "%-8s %-12s %-8s %7.1f s  %.3f of the limit", n, p, o, s, s / l
      if (solo > 0) printf "  %.3f of the solo run", s / solo
      printf "\n" }'
  done
  awk -v u="$user" -v s="$system" -v r="$real" -v n="$name" \
    'BEGIN { printf "%-8s CPU %.2f s user + %.2f s system in %.1f s: %.2f%% of one core\n", n, u, s, r, (u + s) * 100 / r }'
}

start_devices 1
run solo program
solo=$(grep '"event":"result"' "$work/solo.json" | sed -E 's/.*"seconds":([0-9.]+).*/\1/')
wait "${pids[@]}" 2>/dev/null || true
pids=()

start_devices 4
run station station
wait "${pids[@]}" 2>/dev/null || true
pids=()
for log in "$work"/dev*.log; do grep -q "received whole" "$log" || { echo "a device did not get the image whole"; cat "$log"; exit 1; }; done
echo "every device received the image whole"
