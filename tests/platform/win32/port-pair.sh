#!/usr/bin/env bash
# Runs a Windows test program with COM1 and COM2 joined as the two ends of one
# line: two pseudo-terminals whose traffic a relay copies across.
#   port-pair.sh WINE_RUN PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
wine_run=$1 prefix=$2
shift 2
source "$(dirname "$0")/../../support/wine/com-ports.sh"

work=$(mktemp -d)
relay_pid=
cleanup() {
  [[ -n $relay_pid ]] && kill "$relay_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_line_relay "$work"

map_com_ports "COM1=$(readlink -f "$work/near")" "COM2=$(readlink -f "$work/far")"
status=0
"$wine_run" "$prefix" "$@" || status=$?
unmap_com_ports COM1 COM2
exit "$status"
