# Sourced by the X11 scripts: starts a private Xvfb on a free display number
# and exports DISPLAY; the caller's EXIT trap should call Stop_Xvfb.
Start_Xvfb() {
    local fd_file
    fd_file=$(mktemp)
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp 9>"$fd_file" 2>/dev/null &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$fd_file" ] && break
        sleep 0.1
    done
    if [ ! -s "$fd_file" ]; then
        echo "Xvfb did not start" >&2
        rm -f "$fd_file"
        return 1
    fi
    export DISPLAY=":$(head -n1 "$fd_file")"
    rm -f "$fd_file"
    export QT_QPA_PLATFORM=xcb
}

Stop_Xvfb() {
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
    fi
}
