#!/usr/bin/env bash
# Builds the Debian package from a configured build folder and checks it: the
# control fields, the files it holds, the desktop entry and AppStream data as
# validators see them, a start of the unpacked program on a private X
# server, whose main window must appear, and then the package installed for
# real and run as root and as another user, whose settings must each land in
# that user's own configuration folder. Installs with apt-get (sudo when not
# root) and removes the package again unless it was installed before.
#   scripts/package-check.sh <build-dir>
# Exits non-zero on the first broken step or, for the checks of the package's
# contents, after listing every missing or wrong entry.
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 <build-dir>" >&2; exit 2; }
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)

app_id=org.example.roustabell
# The desktop entry keeps the name the program gives itself (setDesktopFileName).
title="Quillon's Clamorific Alarm Clock Thingy"
icon_sizes=(16 22 24 32 48 64 128 256)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "FAIL: no project version in $build/CMakeCache.txt" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/roustabell-package-check.XXXXXX")
app_pid=
cleanup() {
  if [ -n "$app_pid" ]; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  ROUSTABELL_DESKTOP_DIR="$work/desktop" bash "$source_dir/scripts/desktop.sh" stop >/dev/null 2>&1 || true
  [ -z "$installed_here" ] || as_root apt-get remove -y -qq roustabell >/dev/null 2>&1 || true
  [ -z "$made_user" ] || as_root userdel "$check_user" >/dev/null 2>&1 || true
  as_root rm -rf "$work"
}
trap cleanup EXIT

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# The started program's main window, the one whose process is $app_pid.
own_window() {
  local deadline=$((SECONDS + $1)) w
  while [ "$SECONDS" -le "$deadline" ]; do
    for w in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
      [ "$(xdotool getwindowpid "$w" 2>/dev/null)" = "$app_pid" ] && { echo "$w"; return 0; }
    done
    sleep 0.2
  done
  echo "no window of process $app_pid within $1 s" >&2
  return 1
}

# The installed program, run with a home of its own under $work as the given
# user; Set saves the time typed; prints the settings file's path when it
# holds that time.
run_installed_as() {
  local user=$1 time=$2 home=$work/home-$1 uid gid config window
  uid=$(id -u "$user") gid=$(id -g "$user")
  as_root install -d -o "$uid" -g "$gid" "$home"
  as_root setpriv --reuid="$uid" --regid="$gid" --clear-groups \
    env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb \
    /usr/bin/roustabell >"$work/app-$user.log" 2>&1 &
  local started=$!
  # The program itself, below whatever as_root and setpriv left in between.
  for _ in $(seq 100); do
    app_pid=$(pgrep -n -u "$uid" -x roustabell || true)
    [ -n "$app_pid" ] && break
    sleep 0.1
  done
  config=$home/.config/roustabell/AlarmClockConfig.xml
  if window=$(own_window 30) && focus_window "$window"; then
    # From the first focus (Alarm (test)): sound box, Browse, Stop, time box, Set.
    press Tab Tab Tab Tab
    type_text "$time"
    press Tab space
    for _ in $(seq 100); do
      as_root grep -q "<WakeyTime>$time</WakeyTime>" "$config" 2>/dev/null && break
      sleep 0.1
    done
  fi
  [ -z "$app_pid" ] || as_root kill "$app_pid" 2>/dev/null || true
  kill "$started" 2>/dev/null || true
  wait "$started" 2>/dev/null || true
  app_pid=
  # Its window gone before the next user's is looked for; X reuses the ids.
  for _ in $(seq 50); do
    [ -z "$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null)" ] && break
    sleep 0.1
  done
  if as_root grep -q "<WakeyTime>$time</WakeyTime>" "$config" 2>/dev/null; then
    echo "$config"
  else
    cat "$work/app-$user.log" >&2
  fi
}

# An installed program keeps every user's settings in that user's own
# configuration folder, root's too, and reads nothing another user left in its
# install folder: a file planted there names a sound no save may carry on.
install_and_run_users() {
  local folder=/usr/lib/roustabell planted=/usr/lib/roustabell/AlarmClockConfig.xml who config
  dpkg-query -W -f='${Status}' roustabell 2>/dev/null | grep -q 'ok installed' || installed_here=1
  as_root apt-get install -y -qq "$deb" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "apt-get install $deb"; return; }
  if ! id "$check_user" >/dev/null 2>&1; then
    as_root useradd --system --no-create-home --shell /usr/sbin/nologin "$check_user" && made_user=1
  fi
  chmod 755 "$work"
  echo '<AlarmClockConfig><WakeyFileName>/planted.wav</WakeyFileName></AlarmClockConfig>' |
    as_root tee "$planted" >/dev/null
  for who in root:11:47 "$check_user:10:13"; do
    if ! config=$(run_installed_as "${who%%:*}" "${who#*:}") || [ -z "$config" ]; then
      fail "${who%%:*}: Set saved nothing in its own configuration folder"
      continue
    fi
    echo "${who%%:*}: $config"
    as_root grep -q "<WakeyFileName>$folder/roustabell.wav</WakeyFileName>" "$config" ||
      fail "${who%%:*} read the file left in $folder: $(as_root cat "$config")"
  done
  as_root rm -f "$planted"
  leftovers=$(find "$folder" -newer "$work/install.log" ! -path "$folder" 2>/dev/null || true)
  [ -z "$leftovers" ] || fail "the program wrote into $folder: $leftovers"
}

# shellcheck source=bench/xkeys.sh
. "$source_dir/bench/xkeys.sh"
check_user=roustabell-check
installed_here=
made_user=

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
step() { echo "== $*"; }

for tool in cpack dpkg-deb desktop-file-validate appstreamcli identify xdotool Xvfb; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool not found" >&2; exit 1; }
done

step "building the package"
cmake --build "$build" --target roustabell roustabell_icons
rm -f "$build"/roustabell_*.deb
(cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
debs=("$build"/roustabell_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: cpack made no single roustabell_*.deb" >&2; exit 1; }
deb=${debs[0]}
echo "$deb"

step "control fields"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = roustabell ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)'"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
depends=$(field Depends)
echo "Depends: $depends"
echo "Recommends: $(field Recommends)"
for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6 libpulse0 \
  fonts-liberation2; do
  grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package"
done

step "installability (apt-get --simulate)"
# Resolves the dependencies against this machine's package lists without
# touching the system.
apt-get install --simulate -qq "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log" >&2; fail "apt-get cannot install $deb"; }

step "package contents"
dpkg-deb -c "$deb" >"$work/contents"
# Each wanted entry as dpkg-deb lists it: permissions, then path (and link target).
expect() {
  local mode=$1 path=$2
  grep -Eq "^$mode .* \./${path//./\\.}( -> .*)?$" "$work/contents" || fail "package lacks $path ($mode)"
}
expect '-rwxr-xr-x' 'usr/lib/roustabell/roustabell'
expect '-rw-r--r--' 'usr/lib/roustabell/libroustabell-sound.so'
expect '-rw-r--r--' 'usr/lib/roustabell/roustabell.wav'
expect '-rw-r--r--' 'usr/lib/roustabell/WRONG!.WAV'
grep -Eq '^l.* \./usr/bin/roustabell -> \.\./lib/roustabell/roustabell$' "$work/contents" ||
  fail "package lacks the relative link usr/bin/roustabell -> ../lib/roustabell/roustabell"
expect '-rw-r--r--' "usr/share/applications/roustabell.desktop"
expect '-rw-r--r--' "usr/share/metainfo/$app_id.metainfo.xml"
expect '-rw-r--r--' 'usr/share/doc/roustabell/copyright'
expect '-rw-r--r--' 'usr/share/icons/hicolor/scalable/apps/roustabell.svg'
for size in "${icon_sizes[@]}"; do
  expect '-rw-r--r--' "usr/share/icons/hicolor/${size}x${size}/apps/roustabell.png"
done
if grep -Eq '\./usr/(include|lib/cmake)|tst_|rendericon' "$work/contents"; then
  fail "package holds build or test files: $(grep -E '\./usr/(include|lib/cmake)|tst_|rendericon' "$work/contents")"
fi

step "unpacking into a scratch root"
root="$work/root"
dpkg -x "$deb" "$root"
[ "$(readlink -f "$root/usr/bin/roustabell")" = "$root/usr/lib/roustabell/roustabell" ] ||
  fail "usr/bin/roustabell does not lead to usr/lib/roustabell/roustabell"
cmp -s "$root/usr/lib/roustabell/roustabell.wav" "$source_dir/resources/sounds/roustabell.wav" ||
  fail "installed roustabell.wav differs from resources/sounds/roustabell.wav"
cmp -s "$root/usr/lib/roustabell/WRONG!.WAV" "$source_dir/resources/sounds/WRONG!.WAV" ||
  fail "installed WRONG!.WAV differs from resources/sounds/WRONG!.WAV"
cmp -s "$root/usr/share/icons/hicolor/scalable/apps/roustabell.svg" "$source_dir/resources/icons/alarmclock.svg" ||
  fail "installed roustabell.svg differs from resources/icons/alarmclock.svg"
for size in "${icon_sizes[@]}"; do
  png="$root/usr/share/icons/hicolor/${size}x${size}/apps/roustabell.png"
  [ -f "$png" ] || continue
  found=$(identify -format '%m %wx%h' "$png" 2>&1) || true
  [ "$found" = "PNG ${size}x${size}" ] || fail "$png is '$found', not a ${size}x${size} PNG"
done
for elf in roustabell libroustabell-sound.so; do
  if ldd "$root/usr/lib/roustabell/$elf" | grep -q 'not found'; then
    fail "unresolved libraries of $elf: $(ldd "$root/usr/lib/roustabell/$elf" | grep 'not found')"
  fi
done

step "desktop-file-validate"
desktop="$root/usr/share/applications/roustabell.desktop"
# Its hints (say, a category without a main category) count as failures too.
if ! verdict=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$verdict" ]; then
  fail "desktop-file-validate: ${verdict:-rejected roustabell.desktop}"
fi
grep -qx 'Exec=roustabell' "$desktop" || fail "desktop entry does not run roustabell"
grep -qx 'Icon=roustabell' "$desktop" || fail "desktop entry does not name the roustabell icon"

step "appstreamcli validate"
metainfo="$root/usr/share/metainfo/$app_id.metainfo.xml"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects $app_id.metainfo.xml"
grep -q "<id>$app_id</id>" "$metainfo" || fail "metainfo id is not $app_id"
grep -q "<launchable type=\"desktop-id\">roustabell.desktop</launchable>" "$metainfo" ||
  fail "metainfo does not launch roustabell.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo has no release $version"

if [ "$failures" -ne 0 ]; then
  echo "package-check: $failures failure(s)" >&2
  exit 1
fi

step "starting the unpacked program on a private desktop"
eval "$(ROUSTABELL_DESKTOP_DIR="$work/desktop" bash "$source_dir/scripts/desktop.sh" start)"
mkdir -p "$work/home"
# Started through the link, as a person would; its settings stay in the scratch root.
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=xcb \
  "$root/usr/bin/roustabell" >"$work/app.log" 2>&1 &
app_pid=$!
if ! window=$(timeout 30 xdotool search --sync --onlyvisible --name "^$title\$" | head -n 1) || [ -z "$window" ]; then
  cat "$work/app.log" >&2
  echo "FAIL: the main window did not appear within 30 s" >&2
  exit 1
fi
kill -0 "$app_pid" 2>/dev/null || { cat "$work/app.log" >&2; echo "FAIL: the program ended" >&2; exit 1; }
[ "$(xdotool getwindowpid "$window" 2>/dev/null || true)" = "$app_pid" ] ||
  fail "the window found does not belong to the started program"
echo "window $window: $(xdotool getwindowname "$window")"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=

step "installing the package; its settings as root and as another user"
install_and_run_users
if [ "$failures" -ne 0 ]; then
  echo "package-check: $failures failure(s)" >&2
  exit 1
fi
echo "package-check: all checks passed"
