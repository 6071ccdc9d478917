#!/usr/bin/env bash
# Takes a screenshot of every window of the real program under a private
# desktop into docs/screenshots/. Needs a built program (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${ROUSTABELL_BUILD_DIR:-build}
out=${1:-docs/screenshots}
mkdir -p "$out"

work=$(mktemp -d)
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  bash "$root/scripts/sound-server.sh" stop >/dev/null 2>&1 || true
  bash "$root/scripts/desktop.sh" stop >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
eval "$(bash scripts/desktop.sh start)"
eval "$(bash scripts/sound-server.sh start)"

cp "$build/roustabell" "$build/libroustabell-sound.so" "$build/roustabell.wav" "$build/WRONG!.WAV" "$work/"
cat >"$work/AlarmClockConfig.xml" <<XML
<AlarmClockConfig>
  <WakeyFileName>$work/roustabell.wav</WakeyFileName>
  <WakeyTime>7:30</WakeyTime>
  <AwareTestQuestions>
    <QA_Pair><Question>What is the name of the dog next door?</Question><Answer>Biscuit</Answer></QA_Pair>
    <QA_Pair><Question>How many steps lead up to the front door?</Question><Answer>7</Answer></QA_Pair>
  </AwareTestQuestions>
</AlarmClockConfig>
XML

"$work/roustabell" &
pid=$!

window() { xdotool search --sync --onlyvisible --name "$1" | head -n 1; }
shot() {
  sleep 0.7
  import -window "$(window "$1")" -frame "$out/$2.png"
  echo "wrote $out/$2.png"
}
key() { xdotool key --clearmodifiers "$@"; sleep 0.25; }

main="Quillon's Clamorific Alarm Clock Thingy"
xdotool windowactivate --sync "$(window "$main")"
shot "$main" main

# The question editor: the seventh stop in the tab order.
key Tab Tab Tab Tab Tab Tab space
shot "Define AwareTest Questions and Answers" questions
key space

key alt+h a
shot "About ROUSTABELL" about
key Escape

key alt+h l
shot "Software License" license
key Return

# Set the alarm, then ask to close: the exit-or-minimize question.
xdotool windowactivate --sync "$(window "$main")"
key shift+Tab space
sleep 0.5
shot "$main" main-set
key alt+f x
sleep 0.7
import -window "$(xdotool getactivewindow)" -frame "$out/exit-or-minimize.png"
echo "wrote $out/exit-or-minimize.png"
key space
sleep 0.5

# Test the sound and stop it: the awareness test.
xdotool search --name "$main" | while read -r id; do xdotool windowmap "$id" windowactivate "$id" 2>/dev/null || true; done
sleep 0.7
key shift+Tab shift+Tab shift+Tab shift+Tab shift+Tab space
key Tab Tab Tab space
shot "AWAKE" awareness
