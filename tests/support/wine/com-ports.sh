# Shell functions for Windows tests that need COM ports: they map COMn of a
# Wine prefix to a pseudo-terminal. Sourced by the test scripts; expects
# $wine_run (the runner script) and $prefix (the Wine prefix) to be set.

# map_com_ports COM1=/dev/pts/N [COM2=...]: Wine reads the mapping only when
# its server starts (a link made by hand in dosdevices/ is overwritten then),
# so the server is stopped afterwards and the next program starts a new one.
map_com_ports() {
  local mapping name path
  for mapping in "$@"; do
    name=${mapping%%=*}
    path=${mapping#*=}
    "$wine_run" "$prefix" reg add 'HKLM\Software\Wine\Ports' /v "$name" /t REG_SZ /d "$path" /f >/dev/null
  done
  restart_wine_server
}

# unmap_com_ports COM1 [COM2 ...]: back to Wine's default devices.
unmap_com_ports() {
  local name
  for name in "$@"; do
    "$wine_run" "$prefix" reg delete 'HKLM\Software\Wine\Ports' /v "$name" /f >/dev/null 2>&1 || true
  done
  restart_wine_server
}

restart_wine_server() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1 || true
}

# windows_path /unix/path: the same file as Wine's Z: drive names it.
windows_path() {
  printf 'Z:%s' "${1//\//\\}"
}

# start_line_relay DIR: two pseudo-terminals, DIR/near and DIR/far, whose
# traffic socat copies across: the two ends of one line. Sets $relay_pid.
start_line_relay() {
  local dir=$1
  socat "pty,raw,echo=0,link=$dir/near" "pty,raw,echo=0,link=$dir/far" &
  relay_pid=$!
  for _ in $(seq 100); do
    [[ -e $dir/near && -e $dir/far ]] && return 0
    sleep 0.05
  done
  echo "the relay made no pseudo-terminals"
  return 1
}
