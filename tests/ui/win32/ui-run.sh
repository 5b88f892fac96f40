#!/usr/bin/env bash
# The whole Windows program under Wine and a virtual X server, driven through
# its window by tarnwick_ui_driver, against the simulated device on a
# pseudo-terminal mapped to COM1; the device checks the image byte for byte.
#   ui-run.sh WINE_RUN PREFIX DEVICE PACK PROGRAM.exe DRIVER.exe LENGTH [no-device|command-line|names]
# The device's pseudo-terminal is COM12, and the program is told COM1=COM12.
# With no-device, none of COM1 to COM4 can be opened and no device runs.
# With names, three images of LENGTH, LENGTH + 1 and LENGTH + 2 bytes, in
# folders and under names in Greek, Japanese and accented Latin, are typed
# into the file dialog and programmed in turn (a missing one first, whose box
# must name it); the last run is the keyboard's (see the driver).
# With command-line, the program is started with help, version and wrong
# arguments: each gets its box and exit status. Wine hands each argument on
# quoted by the system's rules, so the box must show it as given, spaces,
# backslashes, quotes and letters of any script included.
# With TARNWICK_SCREENSHOT=FILE.png a picture of the screen is taken while the
# success box shows.
set -euo pipefail
wine_run=$1 prefix=$2 device=$3 pack=$4 program=$5 driver=$6 length=$7 mode=${8:-}
source "$(dirname "$0")/../../support/wine/com-ports.sh"
source "$(dirname "$0")/../../support/wine/display.sh"

work=$(mktemp -d)
xvfb_pid= device_pid= program_pid=
cleanup() {
  local pid
  for pid in $program_pid $device_pid; do kill "$pid" 2>/dev/null || true; done
  stop_display
  rm -rf "$work"
}
trap cleanup EXIT

start_display

if [[ $mode == command-line ]]; then
  # Wine reads the arguments in the locale's character set.
  export LC_ALL=C.UTF-8
  app=$(basename "$program" .exe)
  # The version is the project's: as the caller gives it, or as the Linux
  # build's tarnwick-pack tells it.
  version=${TARNWICK_VERSION:-$("$pack" --version)}
  version=${version#tarnwick-pack }
  failed=0
  # ARGUMENT|EXIT STATUS|TEXT OF THE BOX
  for each in '/?|0|usage: tarnwick [COMn=COMm]' '--help|0|usage: tarnwick [COMn=COMm]' \
              "--version|0|tarnwick $version" 'COM5=COM12|2|usage: tarnwick' 'COM1=/dev/ttyS0|2|usage: tarnwick' \
              'extra|2|usage: tarnwick' \
              'C:\dir with space\|2|bad port mapping "C:\dir with space\"' \
              'COM2="COM6"|2|bad port mapping "COM2="COM6""' \
              'COM1=Εικόνα|2|bad port mapping "COM1=Εικόνα"'; do
    IFS='|' read -r argument expected text <<<"$each"
    "$wine_run" "$prefix" "$program" "$argument" &
    program_pid=$!
    "$wine_run" "$prefix" "$driver" box "$app" "$text" || failed=1
    program_status=0
    wait "$program_pid" || program_status=$?
    program_pid=
    echo "$app $argument: exit status $program_status"
    [[ $program_status -eq $expected ]] || { echo "FAIL expected exit status $expected"; failed=1; }
  done
  exit "$failed"
fi

images=$(windows_path "$work/IMAGE")
lengths=$length
driver_mode=$mode
runs=1
if [[ $mode == names ]]; then
  # Wine reads the names on its command line in the locale's character set.
  export LC_ALL=C.UTF-8
  folders=("$work/My Images/Ελληνικά" "$work/画像" "$work/Données")
  names=("Εικόνα" "イメージ" "Été")
  images=$(windows_path "${folders[0]}/Λείπει")
  lengths=-
  for i in 0 1 2; do
    mkdir -p "${folders[i]}"
    head -c "$((length + i))" /dev/urandom > "$work/image$i.bin"
    "$pack" "$work/image$i.bin" "${folders[i]}/${names[i]}.UPL"
    images+="|$(windows_path "${folders[i]}/${names[i]}")"
    lengths+="|$((length + i))"
  done
  driver_mode=keyboard
  runs=3
else
  head -c "$length" /dev/urandom > "$work/image.bin"
  "$pack" "$work/image.bin" "$work/IMAGE.UPL"
fi
if [[ $mode == no-device ]]; then
  # A folder: the port's open fails (a missing path would not do, as Wine then
  # falls back to a serial device of its own choosing).
  map_com_ports "COM1=$work" "COM2=$work" "COM3=$work" "COM4=$work"
else
  mkfifo "$work/device.out"
  if [[ $mode == names ]]; then
    "$device" --baud 0 --runs "$runs" --out "$work/received.bin" > "$work/device.out" 2>&1 &
  else
    "$device" --baud 0 --runs 1 --expect "$work/image.bin" > "$work/device.out" 2>&1 &
  fi
  device_pid=$!
  exec 4<"$work/device.out"
  read -r -t 10 pty <&4 || { echo "the device printed no pseudo-terminal"; exit 1; }
  cat <&4 > "$work/device.log" &
  # A port above COM9, as USB adapters get, named on the command line.
  map_com_ports "COM12=$pty"
fi

if [[ $mode == no-device ]]; then
  "$wine_run" "$prefix" "$program" &
else
  "$wine_run" "$prefix" "$program" COM1=COM12 &
fi
program_pid=$!

if [[ -n ${TARNWICK_SCREENSHOT:-} ]] && command -v import >/dev/null; then
  export TARNWICK_DRIVER_PAUSE_MS=3000
  ( sleep 1; while kill -0 "$program_pid" 2>/dev/null; do
      if [[ -f $work/shot-now ]]; then import -display "$DISPLAY" -window root "$TARNWICK_SCREENSHOT"; break; fi
      sleep 0.2
    done ) &
fi
status=0
# The name is typed without its extension: the file dialog adds ".UPL".
"$wine_run" "$prefix" "$driver" "$images" "$lengths" \
  "$(basename "$program" .exe)" $driver_mode | while IFS= read -r line; do
    echo "$line"
    if [[ $line == *"the box reports success"* ]]; then touch "$work/shot-now"; fi
  done || status=1

program_status=0
wait "$program_pid" || program_status=$?
program_pid=
[[ $status -eq 0 ]] && [[ $program_status -eq 0 ]] || echo "the program ended with status $program_status"
if [[ $mode == no-device ]]; then
  unmap_com_ports COM1 COM2 COM3 COM4
  [[ $status -eq 0 && $program_status -eq 0 ]] || exit 1
  echo "with no port to open, the program said so and ended"
  exit 0
fi

[[ $status -eq 0 ]] || kill "$device_pid" 2>/dev/null || true
device_status=0
wait "$device_pid" || device_status=$?
device_pid=
echo "--- device report"
cat "$work/device.log"
unmap_com_ports COM12
[[ $status -eq 0 ]] || { echo "the driver's checks failed"; exit 1; }
[[ $program_status -eq 0 ]] || exit 1
[[ $device_status -eq 0 ]] || { echo "the device did not receive the image whole"; exit 1; }
if [[ $mode == names ]]; then
  cmp "$work/received.bin" "$work/image0.bin" && cmp "$work/received.bin.2" "$work/image1.bin" &&
    cmp "$work/received.bin.3" "$work/image2.bin" || { echo "the device did not receive the images as loaded"; exit 1; }
  echo "the program loaded the images by their names in three scripts and served them; the device received them whole and equal"
  exit 0
fi
echo "the program served $length bytes through its window; the device received them whole and equal"
