#!/usr/bin/env bash
# Starts the program under Wine on a private Xvfb display and saves a
# screenshot of the screen, to look at by eye. Wine's own desktop window is
# used, so that the window gets its frame and caption without a window manager.
#   screenshot.sh <wine-run> <program exe> <out.png> [seconds to wait, default 8]
set -uo pipefail
wine_run=$1 program=$2 out=$3 wait=${4:-8}
display_file=$(mktemp)
Xvfb -displayfd 1 -screen 0 640x400x24 -nolisten tcp >"$display_file" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [[ -s $display_file ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$display_file")"
rm -f "$display_file"
trap 'timeout 20 "$wine_run" wineserver -k >/dev/null 2>&1; kill $xvfb 2>/dev/null' EXIT
timeout 20 "$wine_run" wineserver -k >/dev/null 2>&1
timeout 120 "$wine_run" explorer /desktop=quillet,620x380 "$program" &
sleep "$wait"
import -window root "$out"
echo "saved $out"
