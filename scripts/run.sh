#!/usr/bin/env bash
# The main job: builds everything, then programs the simulated device through
# the Tarnwick dialog. The device serves a pseudo-terminal mapped to COM3 at
# 4800 baud; COM1, COM2 and COM4 point at ports that do not exist, so the scan
# shows. A sample image made with tarnwick-pack waits in the folder the file
# dialog opens.
#
# With a display the desktop program opens: press Load File, pick SAMPLE.UPL,
# press Program. Without one (or with --headless) tarnwick-demo runs the same
# scenario offscreen, prints each status text and the final message, and the
# script exits 0 only when the device received the image byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."

headless=0
case "${1:-}" in
  --headless) headless=1 ;;
  "") ;;
  *) echo "usage: scripts/run.sh [--headless]" >&2; exit 2 ;;
esac
[[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]] && headless=1

scripts/ensure-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default

bin="$PWD/build/default"
work="$PWD/build/demo"
rm -rf "$work"
mkdir -p "$work"

# A 4 KiB sample image: 32 blocks, about 15 s on the line at 4800 baud.
head -c 4096 /dev/urandom > "$work/sample.bin"
"$bin/tools/tarnwick-pack" "$work/sample.bin" "$work/SAMPLE.UPL"

device_options=(--baud 4800 --link "$work/COM3.pty" --expect "$work/sample.bin")
[[ $headless -eq 1 ]] && device_options+=(--runs 1)
"$bin/device/tarnwick-device" "${device_options[@]}" >"$work/device.out" 2>"$work/device.log" &
device_pid=$!
trap 'kill "$device_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  [[ -e "$work/COM3.pty" ]] && break
  sleep 0.1
done
[[ -e "$work/COM3.pty" ]] || { echo "the simulated device did not start:" >&2; cat "$work/device.log" >&2; exit 1; }

ports=("COM1=$work/no-such-port-1" "COM2=$work/no-such-port-2" "COM3=$work/COM3.pty" "COM4=$work/no-such-port-4")
echo "Simulated device on $(head -n 1 "$work/device.out") (linked as COM3); sample image $work/SAMPLE.UPL"

if [[ $headless -eq 0 ]]; then
  # The file dialog opens in the current folder.
  (cd "$work" && "$bin/ui/qt/tarnwick" "${ports[@]}")
  echo "Device log:"
  tail -n +2 "$work/device.out"
  exit 0
fi

echo "No display: running the dialog offscreen with tarnwick-demo."
demo_status=0
(cd "$work" && "$bin/ui/qt/tarnwick-demo" --timeout 300 "${ports[@]}" SAMPLE.UPL) || demo_status=$?

# The device ends by itself after its run; give it a moment, then stop it.
device_status=0
for _ in $(seq 50); do
  kill -0 "$device_pid" 2>/dev/null || break
  sleep 0.1
done
kill "$device_pid" 2>/dev/null || true
wait "$device_pid" || device_status=$?
trap - EXIT

echo "Device:"
tail -n +2 "$work/device.out"
if [[ $demo_status -eq 0 && $device_status -eq 0 ]]; then
  echo "The device received the image byte for byte."
  exit 0
fi
echo "The run failed (demo exit status $demo_status, device exit status $device_status)." >&2
exit 1
