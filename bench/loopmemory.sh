#!/usr/bin/env bash
# Run by mapprobe once the main window is listed: sets an alarm a few seconds
# ahead from outside and, five seconds into its sound, prints the program's
# memory: VmRSS, RssAnon and the peak so far (VmHWM). The alarm file is the
# one the configuration names (bench/run.sh gives the default sound to one
# program and a long file to another).
# Needs MAPPROBE_WINDOW, MAPPROBE_PID and BENCH_PROGDIR.
set -euo pipefail
here=$(dirname "$0")
# shellcheck source=bench/xkeys.sh
. "$here/xkeys.sh"

due=$(($(date +%s) + 4))
set_alarm_at "$MAPPROBE_WINDOW" "$BENCH_PROGDIR/AlarmClockConfig.xml" "$due" || exit 1
# Set tells in a message box when the file would not be heard as itself.
[ "$(xdotool getactivewindow)" = "$MAPPROBE_WINDOW" ] || {
    echo "loopmemory: a message came up on Set: the file is not played as itself" >&2
    exit 1
}
sleep_until_ms $(((due + 5) * 1000))
pactl list sink-inputs | grep -q 'application.name = "ROUSTABELL"' || {
    echo "loopmemory: no sound of the program's on the server five seconds into the alarm" >&2
    exit 1
}
awk '/^VmRSS:/ { print "loop_rss_kb=" $2 } /^RssAnon:/ { print "loop_anon_kb=" $2 }
    /^VmHWM:/ { print "loop_hwm_kb=" $2 }' "/proc/$MAPPROBE_PID/status"
