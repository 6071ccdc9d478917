#!/usr/bin/env bash
# Run by mapprobe once the main window is listed: sets an alarm a few seconds
# ahead from outside, records the sound device's monitor, presses Stop a
# second into the sound, and prints when sound began after the due second and
# when it ended after Stop (soundprobe analyze's key=value lines).
# Needs MAPPROBE_WINDOW, BENCH_PROGDIR, BENCH_SOUNDPROBE and BENCH_RUNDIR.
set -euo pipefail
here=$(dirname "$0")
# shellcheck source=bench/xkeys.sh
. "$here/xkeys.sh"
# shellcheck source=bench/recording.sh
. "$here/recording.sh"

wid=$MAPPROBE_WINDOW
config=$BENCH_PROGDIR/AlarmClockConfig.xml
record=$BENCH_RUNDIR/levels.txt
ready=$BENCH_RUNDIR/recording
floor_db=${BENCH_FLOOR_DB:--50}
start_recording "$record" "$ready" "$BENCH_RUNDIR/soundprobe.log" || exit 1

# Far enough ahead that the typing is done well before the due second.
due=$(($(date +%s) + 4))
set_alarm_at "$wid" "$config" "$due" || exit 1

# Stop about a second into the sound, where it is loud, so that the end of
# the sound is the program's doing and not a quiet stretch of the file.
sleep_until_ms $((due * 1000 + 2000))
eval "$(xdotool getwindowgeometry --shell "$wid")"
# The Stop button, 248,200 145x33, in the 466x253 client area below the menu bar.
xdotool mousemove --window "$wid" $((248 + 145 / 2)) $((HEIGHT - 253 + 200 + 33 / 2))
sleep 0.1
stop_ms=$(date +%s%3N)
xdotool click 1
clicked_ms=$(date +%s%3N)
sleep 1.5
stop_recorder

echo "due_ms=$((due * 1000))"
echo "stop_ms=$stop_ms"
echo "click_took_ms=$((clicked_ms - stop_ms))"
"$BENCH_SOUNDPROBE" analyze --in "$record" --floor "$floor_db" \
    --due-ms $((due * 1000)) --stop-ms "$stop_ms"
