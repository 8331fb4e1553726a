#!/bin/bash
# Takes a picture of the window on a private X server (as docs/screenshot.png
# was made) and checks it is the window: its size, and not a blank picture.
#   check_screenshot.sh PROGRAM OUTPUT.png
set -eu
here=$(cd "$(dirname "$0")" && pwd)
for tool in Xvfb xdotool import identify; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
bash "$here/screenshot.sh" "$1" "$2"
size=$(identify -format '%wx%h' "$2")
[ "$size" = "305x221" ] || { echo "the picture is $size, not the window's 305x221"; exit 1; }
colours=$(identify -format '%k' "$2")
[ "$colours" -gt 8 ] || { echo "the picture has only $colours colours: nothing drawn"; exit 1; }
echo "screenshot $2: $size, $colours colours"
