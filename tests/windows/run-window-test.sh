#!/usr/bin/env bash
# Runs the window tests under Wine on a private Xvfb display, with a time
# limit on everything, and leaves no Wine or X process behind.
#   run-window-test.sh <wine-run> <window test exe> <program exe>
set -uo pipefail
wine_run=$1 test_exe=$2 program=$3
win_path() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }

# A display of our own: Xvfb picks a free number and writes it out.
display_file=$(mktemp)
Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp >"$display_file" 2>/dev/null &
xvfb=$!
for _ in $(seq 100); do [[ -s $display_file ]] && break; sleep 0.1; done
if [[ ! -s $display_file ]]; then
  echo "Xvfb did not start"; kill "$xvfb" 2>/dev/null; exit 1
fi
export DISPLAY=":$(head -n1 "$display_file")"
rm -f "$display_file"

cleanup() {
  timeout 20 "$wine_run" wineserver -k >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null
}
trap cleanup EXIT
# A server left from an earlier run would still talk to its old display.
timeout 20 "$wine_run" wineserver -k >/dev/null 2>&1

timeout --kill-after=10 300 "$wine_run" "$test_exe" "$(win_path "$program")"
