#!/usr/bin/env bash
# Runs a Windows program under Wine in a private prefix, creating the prefix on
# first use. Nothing is written to the user's home: no menu entries, no file
# associations, no browser or run-time installers.
#   wine-run.sh PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
prefix=$1
shift

export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"

# "wine" starts the 32-bit loader whenever the 32-bit Wine is installed, and
# that fails on a kernel that cannot run 32-bit programs; then only the 64-bit
# loader (and 64-bit programs) can be used.
wine=(wine)
if [[ -x /usr/lib/wine/wine64 ]] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  wine=(/usr/lib/wine/wine64)
  export WINELOADER=/usr/lib/wine/wine64
fi

if [[ ! -f "$prefix/system.reg" ]]; then
  mkdir -p "$prefix"
  # Test runs in parallel must not build the prefix twice.
  exec 9>"$prefix.lock"
  flock 9
  if [[ ! -f "$prefix/system.reg" ]]; then
    DISPLAY= "${wine[@]}" wineboot.exe --init >/dev/null 2>&1 || true
    wineserver --wait
  fi
  flock -u 9
fi

# Wine's server and its background services (started by the first program of a
# session) would inherit the caller's output pipes and keep them open after the
# program ends, and a test runner waits for those pipes. Start them here with
# streams of their own, and keep the server a minute for the programs to come.
wineserver -p60 </dev/null >/dev/null 2>&1 || true
"${wine[@]}" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true

exec "${wine[@]}" "$@"
