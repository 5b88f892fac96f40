#!/usr/bin/env bash
# tarnwick-cli.exe under Wine against the simulated device on pseudo-terminals:
# a run on COM1, and one on COM12, which only the "\\.\COMn" form of the name
# opens, mapped through Wine's registry like any other port; runs whose image
# lies under folders and names in Greek, Japanese and accented Latin, with a
# log beside it, where every JSON line must be strict UTF-8 and name the image
# as given, each image made and read back by tarnwick-pack.exe; and a log
# under a missing folder, refused in the system's words.
#   wine-cli-run.sh WINE_RUN PREFIX DEVICE PACK TARNWICK-CLI.exe TARNWICK-PACK.exe
set -euo pipefail
wine_run=$1 prefix=$2 device=$3 pack=$4 cli=$5 pack_exe=$6
source "$(dirname "$0")/../../support/wine/com-ports.sh"
# Wine reads the names it is given in the locale's encoding: UTF-8.
export LC_ALL=C.UTF-8

work=$(mktemp -d)
device_pid=
cleanup() {
  [[ -n $device_pid ]] && kill "$device_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

head -c 1500 /dev/urandom > "$work/image.bin"
"$pack" "$work/image.bin" "$work/IMAGE.UPL"

# strict_json_lines FILE [IMAGE]: every line of FILE is a JSON object in strict
# UTF-8 (no byte outside UTF-8, no lone surrogate escape); with IMAGE, every
# line that names an image names that one.
strict_json_lines() {
  python3 - "$@" <<'CHECK'
import json, sys
def strings(value):
    if isinstance(value, dict):
        for key, member in value.items():
            yield key
            yield from strings(member)
    elif isinstance(value, list):
        for member in value:
            yield from strings(member)
    elif isinstance(value, str):
        yield value
path, image = sys.argv[1], (sys.argv[2] if len(sys.argv) > 2 else None)
text = open(path, "rb").read().decode("utf-8")  # refuses any byte outside UTF-8
named = 0
for number, line in enumerate(text.splitlines(), 1):
    record = json.loads(line)
    for each in strings(record):
        each.encode("utf-8")  # refuses a lone surrogate (\udc80)
    if image is not None and "image" in record:
        if record["image"]["path"] != image:
            sys.exit(f"{path}:{number}: the image is {record['image']['path']!r}, not {image!r}")
        named += 1
if image is not None and named == 0:
    sys.exit(f"{path}: no line names the image")
CHECK
}

# run NAME [IMAGE [LOG]]: programs the image (IMAGE.UPL unless given) on the
# port NAME through a device mapped to it, the runs recorded in LOG if given.
run() {
  local name=$1 image=${2:-$work/IMAGE.UPL} log=${3:-} pty status=0 device_status=0
  local arguments=(program --json)
  [[ -z $log ]] || arguments+=(--log "$(windows_path "$log")")
  local out=$work/cli.out.$name err=$work/cli.err.$name
  rm -f "$work/device.out.$name"
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
  "$wine_run" "$prefix" "$cli" "${arguments[@]}" "$name" "$(windows_path "$image")" > "$out" 2> "$err" || status=$?
  [[ $status -eq 0 ]] || kill "$device_pid" 2>/dev/null || true
  wait "$device_pid" || device_status=$?
  device_pid=
  exec 3<&-
  unmap_com_ports "$name"
  echo "--- $name $(basename "$image"): tarnwick-cli.exe exit $status"
  tail -n 3 "$out"
  cat "$err"
  cat "$work/device.log.$name"
  [[ $status -eq 0 ]] || { echo "tarnwick-cli.exe failed on $name"; exit 1; }
  [[ $device_status -eq 0 ]] || { echo "the device on $name did not receive the image whole"; exit 1; }
  local result
  result=$(tail -n 1 "$out" | tr -d '\r')
  [[ $result == *'"event":"result"'* && $result == *'"outcome":"success"'* && $result == *"\"port\":\"$name\""* ]] ||
    { echo "the last line is not the run's success: $result"; exit 1; }
  grep -q '"text":"Connect COM[0-9]* -"' "$out" || { echo "no status lines"; exit 1; }
  strict_json_lines "$out" "$(windows_path "$image")" || { echo "standard output is not strict JSON lines"; exit 1; }
  if [[ -n $log ]]; then
    [[ $(grep -c '"record":"end"' "$log") -eq 1 ]] || { echo "the log has no end record"; cat "$log"; exit 1; }
    strict_json_lines "$log" "$(windows_path "$image")" || { echo "the log is not strict JSON lines"; exit 1; }
  fi
}

run COM1
run COM12
echo "tarnwick-cli.exe programmed the device on COM1 and on COM12"

# Names in any script, the log's as well as the image's.
for image in 'Ελληνικά/Εικόνα.UPL' '画像/ファームウェア.UPL' 'Ünïcödé/Fïrmware é.UPL'; do
  folder=$work/${image%/*}
  mkdir -p "$folder"
  "$wine_run" "$prefix" "$pack_exe" "$(windows_path "$work/image.bin")" "$(windows_path "$work/$image")"
  "$wine_run" "$prefix" "$pack_exe" --unpack "$(windows_path "$work/$image")" "$(windows_path "$folder/Δυαδικό é.bin")"
  cmp "$work/image.bin" "$folder/Δυαδικό é.bin" || { echo "tarnwick-pack.exe did not read back $image"; exit 1; }
  run COM1 "$work/$image" "$folder/Журнал runs.log"
done
echo "tarnwick-pack.exe and tarnwick-cli.exe took and wrote names in Greek, Japanese and accented Latin"

# A log under a missing folder, standard output and error on a terminal (a
# console to the program): nothing is programmed, the status is a failed
# log's, and standard error says why in the system's words, the folder's name
# shown as given.
status=0
command=$(printf '%q ' "$wine_run" "$prefix" "$cli" program --json \
  --log "$(windows_path "$work/Λείπει/runs.log")" COM1 "$(windows_path "$work/IMAGE.UPL")")
script -qec "stty cols 300; $command" /dev/null < /dev/null > "$work/cli.err.missing" 2>&1 || status=$?
cat "$work/cli.err.missing"
[[ $status -eq 7 ]] || { echo "a log under a missing folder exited $status, not 7"; exit 1; }
# The system's words for ERROR_PATH_NOT_FOUND: Windows' and Wine's.
grep -Eq 'Λείπει\\runs.log: cannot open it for appending: (The system cannot find the path specified|Path not found)' \
  <<< "$(tr -d '\r' < "$work/cli.err.missing")" ||
  { echo "the refusal does not give the log's name and the system's message"; exit 1; }
! grep -q '"event"' "$work/cli.err.missing" || { echo "a run went on without its log"; exit 1; }
echo "a log that cannot be opened is refused in the system's words"
