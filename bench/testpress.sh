#!/usr/bin/env bash
# Run by mapprobe once the main window is listed: presses Alarm (test), which
# has the focus at the start, once, and prints when its sound began after the
# press (soundprobe analyze's onset_ms). The first press of a fresh program is
# the one that loads the sound module, so it is the slow one a person meets.
# Needs MAPPROBE_WINDOW, BENCH_SOUNDPROBE and BENCH_RUNDIR.
set -euo pipefail
here=$(dirname "$0")
# shellcheck source=bench/xkeys.sh
. "$here/xkeys.sh"
# shellcheck source=bench/recording.sh
. "$here/recording.sh"

record=$BENCH_RUNDIR/testpress-levels.txt
ready=$BENCH_RUNDIR/testpress-recording
floor_db=${BENCH_FLOOR_DB:--50}
start_recording "$record" "$ready" "$BENCH_RUNDIR/testpress-soundprobe.log" || exit 1

focus_window "$MAPPROBE_WINDOW"
# A second of quiet first, so that nothing before the press reads as its sound.
sleep 1
# Taken just before xdotool starts, so the figure includes xdotool's own start-up.
pressed_ms=$(date +%s%3N)
xdotool key --clearmodifiers space
sleep 1.5
stop_recorder

echo "pressed_ms=$pressed_ms"
"$BENCH_SOUNDPROBE" analyze --in "$record" --floor "$floor_db" --due-ms "$pressed_ms"
