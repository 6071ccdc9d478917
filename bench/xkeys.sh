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

sleep_until_ms() {
    local now
    now=$(date +%s%3N)
    [ "$1" -gt "$now" ] && sleep "$(awk -v d=$(($1 - now)) 'BEGIN { printf "%.3f", d / 1000 }')"
    return 0
}

# set_alarm_at WINDOW CONFIG DUE: types DUE (seconds since the epoch) as the
# wake-up time and presses Set, from the window's first focus (Alarm (test));
# returns once Set has saved the settings, and fails when that was too late
# for DUE itself.
set_alarm_at() {
    local wid=$1 config=$2 due=$3 before
    focus_window "$wid"
    before=$(file_stamp "$config")
    # Sound box, Browse, Stop, time box.
    press Tab Tab Tab Tab ctrl+a
    type_text "$(date -d "@$due" +%-H:%M:%S)"
    press Tab space
    wait_changed "$config" "$before" 3 || {
        echo "Set did not save the settings" >&2
        return 1
    }
    [ "$(date +%s)" -lt "$due" ] || {
        echo "the alarm was set too late for its own due second" >&2
        return 1
    }
}
