#!/bin/bash
# A real drag and drop between two processes on a private X server: the drag
# source drags three items (a file, a file whose name is not valid UTF-8, and a
# missing file) onto the drop frame. The files must be converted, a box titled
# "Done" must appear and close with Return, and the source must have been told
# the drop finished, as a copy, while that box was still open.
#   x11_drag_drop.sh PROGRAM DRAG_SOURCE [SCREENSHOT_DIR]
# Exits 77 (skipped) when the X tools are missing.
set -u
program=$1
source_program=$2
shots=${3:-}
here=$(cd "$(dirname "$0")" && pwd)

for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
app_pid=
source_pid=
. "$here/xvfb_session.sh"
cleanup() {
    [ -n "$source_pid" ] && kill "$source_pid" 2>/dev/null
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    Stop_Xvfb
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

plain="$work/plain.txt"
odd="$work/odd-"$'\xff\xfe'".txt"
printf 'one\ntwo\n' >"$plain"
printf 'x\ry' >"$odd"

Start_Xvfb || fail "no X server"
export XDG_RUNTIME_DIR="$work"

"$program" &
app_pid=$!
app_window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quillet \(v' | head -n1)
[ -n "$app_window" ] || fail "the window did not appear"

"$source_program" "$work/source.log" "$plain" "$odd" "$work/missing.txt" &
source_pid=$!
source_window=$(timeout 20 xdotool search --sync --onlyvisible --name '^quillet drag source$' | head -n1)
[ -n "$source_window" ] || fail "the drag source did not appear"
sleep 0.5

eval "$(xdotool getwindowgeometry --shell "$app_window")"
drop_x=$((X + 150)) drop_y=$((Y + 70))  # the middle of the drop frame
eval "$(xdotool getwindowgeometry --shell "$source_window")"
from_x=$((X + 80)) from_y=$((Y + 50))

xdotool mousemove --sync "$from_x" "$from_y"
xdotool mousedown 1
sleep 0.3
for step in $(seq 1 20); do
    xdotool mousemove $((from_x + (drop_x - from_x) * step / 20)) $((from_y + (drop_y - from_y) * step / 20))
    sleep 0.05
done
sleep 0.3
xdotool mousemove $((drop_x + 1)) "$drop_y"
sleep 0.3
xdotool mouseup 1

done_window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Done$' | head -n1)
[ -n "$done_window" ] || fail "no message box titled Done appeared"
sleep 0.5

# The box is still open, so the batch has not ended: the source must already
# have been released, and told "copy".
grep -q '^finished accepted=1 action=XdndActionCopy$' "$work/source.log" ||
    fail "the drop was not reported finished as a copy while the message was open: $(cat "$work/source.log")"
grep -q '^exec 1$' "$work/source.log" || fail "QDrag::exec did not return a copy: $(cat "$work/source.log")"

[ "$(od -An -c "$plain" | tr -s ' ')" = "$(printf 'one\r\ntwo\r\n' | od -An -c | tr -s ' ')" ] ||
    fail "plain.txt was not converted"
[ "$(od -An -c "$odd" | tr -s ' ')" = "$(printf 'x\r\ny' | od -An -c | tr -s ' ')" ] ||
    fail "the file with a non-UTF-8 name was not converted"

if [ -n "$shots" ]; then
    mkdir -p "$shots"
    # Move the box off the window so both show: the label is still up.
    xdotool windowmove --sync "$done_window" 330 40 2>/dev/null || true
    sleep 0.5
    import -window root -crop 720x300+0+0 "$shots/x11-done.png" 2>/dev/null
fi

xdotool windowfocus --sync "$done_window"
xdotool key Return
for _ in $(seq 50); do
    xdotool search --onlyvisible --name '^Done$' >/dev/null || break
    sleep 0.1
done
xdotool search --onlyvisible --name '^Done$' >/dev/null && fail "the Done box did not close"
kill -0 "$app_pid" 2>/dev/null || fail "the program ended"
echo "PASS"
