# shellcheck shell=bash
# Keyboard and mouse from outside the program, through xdotool. Sourced.

# A stamp that changes whenever the file is replaced or rewritten.
file_stamp() {
    stat -c '%i %s %Y' "$1" 2>/dev/null || echo none
    date -r "$1" +%N 2>/dev/null || true
}

# wait_changed FILE OLD_STAMP SECONDS
wait_changed() {
    local deadline=$((SECONDS + $3))
    while [ "$SECONDS" -le "$deadline" ]; do
        [ "$(file_stamp "$1")" != "$2" ] && return 0
        sleep 0.05
    done
    return 1
}

# Gives the window the keyboard focus and waits until the window manager
# says it has it.
focus_window() {
    local wid=$1
    for _ in $(seq 50); do
        [ "$(xdotool getactivewindow 2>/dev/null)" = "$wid" ] && return 0
        xdotool windowactivate "$wid" >/dev/null 2>&1 || true
        sleep 0.1
    done
    echo "window $wid never became active" >&2
    return 1
}

# Key presses with the pauses a quick typist leaves, so that none is lost.
press() {
    for key in "$@"; do
        xdotool key --clearmodifiers "$key"
        sleep 0.06
    done
}

type_text() {
    xdotool type --delay 40 "$1"
    sleep 0.1
}
