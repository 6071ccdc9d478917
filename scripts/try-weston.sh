#!/usr/bin/env bash
# Shows, by hand, what weston 10 (x11 backend, on a private test desktop)
# does with the program, natively and through its XWayland; run as root
# from the project's root after a build. tst_e2e_wayland does the same on
# mutter, with checks. XWayland takes X display numbers from :0 up, so
# weston runs in private mount and network namespaces.
#   scripts/try-weston.sh [build-dir] [screenshot.png]
set -euo pipefail
command -v weston >/dev/null || { echo "needs weston: apt-get install weston" >&2; exit 1; }
build=$(realpath "${1:-build}")
shot=$(realpath -m "${2:-/tmp/roustabell-weston.png}")
export ROUSTABELL_DESKTOP_DIR=${ROUSTABELL_DESKTOP_DIR:-/tmp/roustabell-weston-desktop}
# shellcheck source=scripts/suite-services.sh
. scripts/suite-services.sh
trap stop_suite_services EXIT
start_suite_services
hostsockets=$(mktemp -d)
export build shot hostsockets
# shellcheck disable=SC2016 # expanded by the inner shell
unshare -m -n bash -euo pipefail -c '
mount --make-rprivate /
mount --bind /tmp/.X11-unix "$hostsockets"
mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix
ln -s "$hostsockets/X${DISPLAY#:}" "/tmp/.X11-unix/X${DISPLAY#:}"
rt=$(mktemp -d); chmod 700 "$rt"; cd "$rt"; host=$DISPLAY
eval "$(dbus-launch --sh-syntax)"
XDG_RUNTIME_DIR=$rt weston --backend=x11-backend.so --socket=wl-try --xwayland \
  --width=1000 --height=700 >weston.log 2>&1 &
weston=$!
sleep 4
xw=$(grep -o "listening on display :[0-9]*" weston.log | grep -o ":[0-9]*" | head -n 1)
session=(env XDG_RUNTIME_DIR="$rt" WAYLAND_DISPLAY=wl-try XDG_SESSION_TYPE=wayland)
"${session[@]}" QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=client timeout 5 \
  "$build/roustabell" >/dev/null 2>native.log || true
echo "native: activation and decoration globals offered:" \
  "$(grep -o "\"[a-z_0-9]*\(activation\|decoration\)[a-z_0-9]*\"" native.log | sort -u | tr "\n" " ")"
echo "native: activation requests sent: $(grep -c "xdg_activation_v1@[0-9]*\.activate(" native.log || true)"
cp -r "$build/roustabell" "$build/libroustabell-sound.so" "$build/roustabell.wav" .
"${session[@]}" DISPLAY="$xw" ./roustabell >/dev/null 2>&1 &
program=$!
sleep 3
x() { DISPLAY=$xw "$@"; }
id=$(x xdotool search --name "^Quillon" | head -n 1)
echo "XWayland: the program with no platform chosen is X window ${id:-none} on $xw"
x xmessage -title other "another program" &
other=$!
sleep 2
x xdotool windowactivate "$id" || true
sleep 1
echo "XWayland: active after the program asks for activation: $(x xdotool getactivewindow getwindowname)"
x xdotool windowminimize "$id"
sleep 1
echo "XWayland: after a minimize request: $(x xprop -id "$id" WM_STATE | grep "window state")"
DISPLAY=$host import -window root "$shot"
echo "screenshot: $shot"
kill "$program" "$other" "$weston" "$DBUS_SESSION_BUS_PID"
wait "$weston" || true
'
umount "$hostsockets" 2>/dev/null || true
rmdir "$hostsockets"
