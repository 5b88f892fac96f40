#!/usr/bin/env bash
# tarnwick-device.exe under Wine, serving COM2 of a pair joined to COM1.
#   device-exe-run.sh WINE_RUN PREFIX PACK DEVICE.exe CLI.exe run
#     tarnwick-cli.exe programs an image on COM1; the device checks it byte
#     for byte against the raw file. Both must end with status 0.
#   device-exe-run.sh WINE_RUN PREFIX PACK DEVICE.exe CLI.exe refusals
#     Without PORT, and with --link, the device refuses to start: status 2 and
#     one line saying why.
#   device-exe-run.sh WINE_RUN PREFIX PACK DEVICE.exe CLI.exe ctrl-c
#     Ctrl+C ends the device through its own ending: with RAW and no run
#     served it reports status 1 (unhandled, Wine would end it with 0).
set -euo pipefail
wine_run=$1 prefix=$2 pack=$3 device=$4 cli=$5 mode=$6
source "$(dirname "$0")/../../support/wine/com-ports.sh"

work=$(mktemp -d)
relay_pid= device_pid=
cleanup() {
  [[ -n $device_pid ]] && kill "$device_pid" 2>/dev/null || true
  [[ -n $relay_pid ]] && kill "$relay_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# refused WHY ARGS...: the device exits 2, its one line on standard error matching WHY.
refused() {
  local why=$1 status=0
  shift
  "$wine_run" "$prefix" "$device" "$@" > "$work/out" 2> "$work/err" || status=$?
  tr -d '\r' < "$work/err" > "$work/err.txt"
  echo "--- tarnwick-device.exe $*: exit $status"
  cat "$work/err.txt"
  [[ $status -eq 2 ]] || { echo "expected exit status 2"; exit 1; }
  [[ ! -s $work/out && $(wc -l < "$work/err.txt") -eq 1 ]] || { echo "expected one line on standard error"; exit 1; }
  grep -q -- "$why" "$work/err.txt" || { echo "the line does not say: $why"; exit 1; }
}

if [[ $mode == refusals ]]; then
  refused 'give the COM port to serve'
  refused 'give the COM port to serve' --runs 1 --baud 0
  refused '--link has no meaning on Windows' --link x COM2
  echo "tarnwick-device.exe refuses to start without a COM port"
  exit 0
fi

head -c 4000 /dev/urandom > "$work/image.bin"
"$pack" "$work/image.bin" "$work/IMAGE.UPL"
start_line_relay "$work"
map_com_ports "COM1=$(readlink -f "$work/near")" "COM2=$(readlink -f "$work/far")"

if [[ $mode == ctrl-c ]]; then
  "$wine_run" "$prefix" "$device" --expect "$(windows_path "$work/image.bin")" COM2 > "$work/device.log" 2>&1 &
  device_pid=$!
  for _ in $(seq 600); do [[ -s $work/device.log ]] && break; sleep 0.1; done
  sleep 1
  # Wine turns SIGINT into the console's Ctrl+C: sent to the processes of
  # this device (the starter and the program), named by this test's folder.
  pids=$(pgrep -f "tarnwick-device.exe --expect .*$(basename "$work")" || true)
  [[ -n $pids ]] || { echo "no device process found"; exit 1; }
  kill -INT $pids
  status=0
  for _ in $(seq 100); do kill -0 "$device_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$device_pid" 2>/dev/null && { echo "the device is still running 10 s after Ctrl+C"; exit 1; }
  wait "$device_pid" || status=$?
  device_pid=
  unmap_com_ports COM1 COM2
  echo "--- tarnwick-device.exe after Ctrl+C: exit $status"
  tr -d '\r' < "$work/device.log"
  [[ $status -eq 1 ]] || { echo "expected exit status 1 (no run served)"; exit 1; }
  echo "Ctrl+C ended tarnwick-device.exe through its own ending"
  exit 0
fi

mkfifo "$work/device.out"
"$wine_run" "$prefix" "$device" --runs 1 --expect "$(windows_path "$work/image.bin")" COM2 \
  > "$work/device.out" 2>&1 &
device_pid=$!
exec 3<"$work/device.out"
# Its first line names the port it serves, once it is open.
read -r -t 60 port <&3 || { echo "the device printed nothing"; exit 1; }
port=${port%$'\r'}
cat <&3 > "$work/device.log" &
reader_pid=$!
echo "device on $port"
[[ $port == COM2 ]] || { echo "the device's first line is not COM2"; exit 1; }

status=0
"$wine_run" "$prefix" "$cli" program COM1 "$(windows_path "$work/IMAGE.UPL")" \
  > "$work/cli.out" 2>&1 || status=$?
# A device whose host gave up would wait for ever.
[[ $status -eq 0 ]] || kill "$device_pid" 2>/dev/null || true
device_status=0
wait "$device_pid" || device_status=$?
device_pid=
exec 3<&-
wait "$reader_pid" || true
unmap_com_ports COM1 COM2
echo "--- tarnwick-cli.exe: exit $status"
tr -d '\r' < "$work/cli.out" | tail -n 5
echo "--- tarnwick-device.exe: exit $device_status"
tr -d '\r' < "$work/device.log"
[[ $status -eq 0 ]] || { echo "tarnwick-cli.exe failed"; exit 1; }
[[ $device_status -eq 0 ]] || { echo "the device did not receive the image whole"; exit 1; }
grep -q 'run 1: 4000 bytes received whole, result 0' "$work/device.log" || { echo "no report of run 1"; exit 1; }
grep -q 'run 1: image equals' "$work/device.log" || { echo "the image was not compared"; exit 1; }
echo "tarnwick-cli.exe on COM1 programmed tarnwick-device.exe on COM2 (4000 bytes)"
