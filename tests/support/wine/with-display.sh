#!/usr/bin/env bash
# Runs a Windows test program that shows windows, under a private Xvfb.
#   with-display.sh WINE_RUN PREFIX PROGRAM.exe [ARGS...]
set -euo pipefail
wine_run=$1 prefix=$2
shift 2
source "$(dirname "$0")/display.sh"
work=$(mktemp -d)
xvfb_pid=
trap 'stop_display; rm -rf "$work"' EXIT
start_display
"$wine_run" "$prefix" "$@"
