#!/usr/bin/env bash
# A whole programming run of the Win32 serial port against the simulated
# device: the device runs on a pseudo-terminal mapped to COM1 and checks the
# image it receives byte for byte against the raw file.
#   device-run.sh WINE_RUN PREFIX DEVICE PACK PROGRAM.exe LENGTH BAUD TICK_MS [lost]
# With "lost" the device hangs up after three blocks, and the program must
# report the lost port.
set -euo pipefail
wine_run=$1 prefix=$2 device=$3 pack=$4 program=$5 length=$6 baud=$7 tick_ms=$8 mode=${9:-}
device_options=()
[[ $mode == lost ]] && device_options=(--hang-up-after 3)
source "$(dirname "$0")/../../support/wine/com-ports.sh"

work=$(mktemp -d)
device_pid=
cleanup() {
  [[ -n $device_pid ]] && kill "$device_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

head -c "$length" /dev/urandom > "$work/image.bin"
"$pack" "$work/image.bin" "$work/IMAGE.UPL"

mkfifo "$work/device.out"
"$device" --baud "$baud" --runs 1 --expect "$work/image.bin" "${device_options[@]}" > "$work/device.out" 2>&1 &
device_pid=$!
exec 3<"$work/device.out"
read -r -t 10 pty <&3 || { echo "the device printed no pseudo-terminal"; exit 1; }
# Keep reading the device's report in the background, so it never blocks on its output.
cat <&3 > "$work/device.log" &
echo "device on $pty"

map_com_ports "COM1=$pty"
status=0
"$wine_run" "$prefix" "$program" "$(windows_path "$work/IMAGE.UPL")" "$length" "$tick_ms" 150 $mode || status=$?

# A device whose host gave up would wait for ever.
[[ $status -eq 0 ]] || kill "$device_pid" 2>/dev/null || true
device_status=0
wait "$device_pid" || device_status=$?
device_pid=
wait || true
echo "--- device report"
cat "$work/device.log"
unmap_com_ports COM1
[[ $status -eq 0 ]] || { echo "the Windows program failed ($status)"; exit 1; }
if [[ $mode == lost ]]; then
  echo "the lost port was reported"
  exit 0
fi
[[ $device_status -eq 0 ]] || { echo "the device did not receive the image whole ($device_status)"; exit 1; }
echo "image of $length bytes received whole and equal"
