#!/usr/bin/env bash
# Run by mapprobe once the main window is listed: presses Set from outside, as
# a person at the keyboard would, and waits until Set has saved the texts.
# Needs MAPPROBE_WINDOW and BENCH_PROGDIR.
set -euo pipefail
here=$(dirname "$0")
# shellcheck source=bench/xkeys.sh
. "$here/xkeys.sh"

config=$BENCH_PROGDIR/AlarmClockConfig.xml
before=$(file_stamp "$config")
focus_window "$MAPPROBE_WINDOW"
# From the first focus (Alarm (test)): sound box, Browse, Stop, time box, Set.
press Tab Tab Tab Tab Tab space
wait_changed "$config" "$before" 5 || {
    echo "arm: Set did not save the settings" >&2
    exit 1
}
