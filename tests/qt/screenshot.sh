#!/bin/bash
# Shows the window on a private X server and saves a picture of it (needs
# Xvfb, xdotool and ImageMagick's import).
#   screenshot.sh PROGRAM OUTPUT.png
set -eu
program=$1
output=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xvfb_session.sh"
Start_Xvfb
app_pid=
trap '[ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null; Stop_Xvfb' EXIT
"$program" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quillet ' | head -n1)
sleep 1
import -window "$window" "$output"
echo "saved $output"
