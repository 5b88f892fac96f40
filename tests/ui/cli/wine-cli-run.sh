#!/usr/bin/env bash
# tarnwick-cli.exe under Wine against the simulated device on pseudo-terminals:
# a run on COM1, and one on COM12, which only the "\\.\COMn" form of the name
# opens, mapped through Wine's registry like any other port.
#   wine-cli-run.sh WINE_RUN PREFIX DEVICE PACK TARNWICK-CLI.exe
set -euo pipefail
wine_run=$1 prefix=$2 device=$3 pack=$4 cli=$5
source "$(dirname "$0")/../../support/wine/com-ports.sh"

work=$(mktemp -d)
device_pid=
cleanup() {
  [[ -n $device_pid ]] && kill "$device_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

head -c 1500 /dev/urandom > "$work/image.bin"
"$pack" "$work/image.bin" "$work/IMAGE.UPL"

# run NAME: programs the image on the port NAME through a device mapped to it.
run() {
  local name=$1 pty status=0 device_status=0
  mkfifo "$work/device.out.$name"
  "$device" --baud 0 --runs 1 --expect "$work/image.bin" > "$work/device.out.$name" 2>&1 &
  device_pid=$!
  exec 3<"$work/device.out.$name"
  read -r -t 10 pty <&3 || { echo "the device printed no pseudo-terminal"; exit 1; }
  cat <&3 > "$work/device.log.$name" &
  map_com_ports "$name=$pty"
  # Listed, the port is not opened: whether it may be opened stays unknown.
  "$wine_run" "$prefix" "$cli" ports --json > "$work/ports.out.$name" 2>&1 ||
    { cat "$work/ports.out.$name"; echo "tarnwick-cli.exe ports failed"; exit 1; }
  grep -q "\"event\":\"device\".*\"name\":\"$name\",.*\"usb\":false,\"access\":null" "$work/ports.out.$name" ||
    { cat "$work/ports.out.$name"; echo "ports did not list $name with its access unknown"; exit 1; }
  "$wine_run" "$prefix" "$cli" program --json "$name" "$(windows_path "$work/IMAGE.UPL")" \
    > "$work/cli.out.$name" 2> "$work/cli.err.$name" || status=$?
  [[ $status -eq 0 ]] || kill "$device_pid" 2>/dev/null || true
  wait "$device_pid" || device_status=$?
  device_pid=
  exec 3<&-
  unmap_com_ports "$name"
  echo "--- $name: tarnwick-cli.exe exit $status"
  tail -n 3 "$work/cli.out.$name"
  cat "$work/cli.err.$name"
  cat "$work/device.log.$name"
  [[ $status -eq 0 ]] || { echo "tarnwick-cli.exe failed on $name"; exit 1; }
  [[ $device_status -eq 0 ]] || { echo "the device on $name did not receive the image whole"; exit 1; }
  local result
  result=$(tail -n 1 "$work/cli.out.$name" | tr -d '\r')
  [[ $result == *'"event":"result"'* && $result == *'"outcome":"success"'* && $result == *"\"port\":\"$name\""* ]] ||
    { echo "the last line is not the run's success: $result"; exit 1; }
  grep -q '"text":"Connect COM[0-9]* -"' "$work/cli.out.$name" || { echo "no status lines"; exit 1; }
}

run COM1
run COM12
echo "tarnwick-cli.exe programmed the device on COM1 and on COM12"
