# Shell functions for Windows tests that show windows: a private virtual X
# server and one Wine virtual desktop. Sourced by the test scripts; expects
# $wine_run, $prefix and $work (a scratch folder) to be set.

# start_display: starts Xvfb on a free display (sets $xvfb_pid and DISPLAY)
# and puts every Wine window on one virtual desktop, since without a window
# manager closing a window of Wine's own stalls.
start_display() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  local _
  for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.05; done
  [[ -s $work/display ]] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; return 1; }
  export DISPLAY=:$(head -n1 "$work/display")
  "$wine_run" "$prefix" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
  "$wine_run" "$prefix" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null
}

# stop_display: back to no desktop, then stops the server.
stop_display() {
  "$wine_run" "$prefix" reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1 || true
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  [[ -n ${xvfb_pid:-} ]] && kill "$xvfb_pid" 2>/dev/null || true
  xvfb_pid=
}
