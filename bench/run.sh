#!/usr/bin/env bash
# Builds and runs the benchmark suite on a private desktop and sound server;
# bench/report.py then prints each figure against its budget. See bench/README.md.
#   bench/run.sh [--runs N] [--seconds S] [--smoke] [--peers] [--build-dir DIR] [--no-build]
#   --peers also times the installed desktop alarm clocks of other projects.
# Exit status: 0 when every measurement ran (budgets missed or not), 1 when a
# measurement could not be taken, 2 on bad usage.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bench=$root/bench

runs=7
seconds=30
smoke=0
build="build-bench"
do_build=1
peers=0
usage() {
    sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=${2:?}; shift 2 ;;
    --seconds) seconds=${2:?}; shift 2 ;;
    --smoke) smoke=1; shift ;;
    --peers) peers=1; shift ;;
    --build-dir) build=${2:?}; shift 2 ;;
    --no-build) do_build=0; shift ;;
    -h | --help) usage ;;
    *) echo "unknown argument: $1" >&2; usage ;;
    esac
done
# Starts of the program and the baseline in each run beyond the one measured
# for memory and CPU.
extra_starts=4
if [ "$smoke" = 1 ]; then
    runs=1
    seconds=3
    extra_starts=1
fi
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "--runs wants a positive whole number" >&2; exit 2; }
[[ "$seconds" =~ ^[0-9]+([.][0-9]+)?$ ]] || { echo "--seconds wants a number" >&2; exit 2; }
case $build in /*) ;; *) build=$root/$build ;; esac

log() { echo "bench: $*" >&2; }

# ---- build -------------------------------------------------------------------
bench_sources=()
for source in "$bench"/bench_*.cpp; do
    [ -e "$source" ] && bench_sources+=("$(basename "$source" .cpp)")
done
if [ "$do_build" = 1 ]; then
    if ! grep -q 'add_subdirectory(bench)' CMakeLists.txt; then
        echo "CMakeLists.txt does not build bench/; it needs:" >&2
        echo '  option(ROUSTABELL_BENCH "Build the benchmarks" OFF)' >&2
        echo '  if(ROUSTABELL_BENCH) add_subdirectory(bench) endif()' >&2
        exit 1
    fi
    configure=(-DROUSTABELL_BENCH=ON)
    [ -f "$build/CMakeCache.txt" ] || configure+=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo)
    log "building in $build"
    cmake -S . -B "$build" "${configure[@]}" >/dev/null
    cmake --build "$build" -j2 --target roustabell roustabell_baseline mapprobe soundprobe \
        "${bench_sources[@]}" >"$build/bench-build.log" 2>&1 || {
        tail -30 "$build/bench-build.log" >&2
        echo "the build failed (whole log: $build/bench-build.log)" >&2
        exit 1
    }
fi
program=$build/roustabell
mapprobe=$build/bench/mapprobe
soundprobe=$build/bench/soundprobe
baseline=$build/bench/roustabell_baseline
for f in "$program" "$mapprobe" "$soundprobe" "$baseline"; do
    [ -x "$f" ] || { echo "missing $f (build it, or drop --no-build)" >&2; exit 1; }
done
for tool in xdotool parec Xvfb openbox python3; do
    command -v "$tool" >/dev/null || {
        echo "$tool is missing (scripts/deps.sh test installs it)" >&2
        exit 1
    }
done

# ---- private desktop and sound server ----------------------------------------
work=$(mktemp -d /tmp/roustabell-bench.XXXXXX)
# State folders of our own, so that starting ours never stops anyone else's.
export ROUSTABELL_DESKTOP_DIR=$work/desktop ROUSTABELL_SOUND_DIR=$work/sound
bus_pid=
cleanup() {
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
    bash scripts/sound-server.sh stop >/dev/null 2>&1 || true
    bash scripts/desktop.sh stop >/dev/null 2>&1 || true
    if [ "${BENCH_KEEP:-0}" = 1 ]; then
        log "kept $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
eval "$(bash scripts/desktop.sh start)"
eval "$(bash scripts/sound-server.sh start)"
# A session bus of its own, as every desktop session has. Without one, each
# program that asks for it (Qt's menu bar does, before the window shows) runs
# dbus-launch to find or start one: tens of milliseconds no desktop pays.
if command -v dbus-daemon >/dev/null; then
    { read -r DBUS_SESSION_BUS_ADDRESS && read -r bus_pid; } < <(dbus-daemon --session --fork \
        --address="unix:path=$work/session-bus" --print-address=1 --print-pid=1)
    export DBUS_SESSION_BUS_ADDRESS
else
    log "dbus-daemon is missing: every start looks for a session bus (scripts/deps.sh test installs it)"
    unset DBUS_SESSION_BUS_ADDRESS
fi
export QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 XDG_RUNTIME_DIR=$work/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR

title="Quillon's Clamorific Alarm Clock Thingy"
baseline_title="Bare Qt clock baseline"
pairs=32767
failed=0

xml_escape() { sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g'; }

# make_program DIR PAIRS [SOUND]: the executable and its sounds, with a
# configuration naming SOUND (the default sound) and a time an hour ahead (not
# armed by itself).
make_program() {
    local dir=$1 count=$2 sound=${3:-$1/roustabell.wav}
    mkdir -p "$dir"
    cp "$program" "$dir/roustabell"
    cp "$(dirname "$program")/libroustabell-sound.so" "$dir/"
    cp "$(dirname "$program")/roustabell.wav" "$(dirname "$program")/WRONG!.WAV" "$dir/"
    {
        echo '<?xml version="1.0" encoding="UTF-8"?>'
        echo '<AlarmClockConfig>'
        echo "  <WakeyFileName>$(printf '%s' "$sound" | xml_escape)</WakeyFileName>"
        echo "  <WakeyTime>$(date -d '+1 hour' +%-H:%M:%S)</WakeyTime>"
        echo '  <AwareTestQuestions>'
        if [ "$count" -gt 0 ]; then
            awk -v n="$count" 'BEGIN {
                for (i = 0; i < n; i++)
                    printf "    <QA_Pair><Question>Question number %d: what is %d plus one?</Question><Answer>%d</Answer></QA_Pair>\n", i, i, i + 1
            }'
        fi
        echo '  </AwareTestQuestions>'
        echo '</AlarmClockConfig>'
    } >"$dir/AlarmClockConfig.xml"
}

# probe NAME RUN TITLE [mapprobe options...] -- PROGRAM: one mapprobe run,
# its key=value lines kept in $work/results/NAME.RUN. A window that does not
# map in time is tried once more: a busy machine can hold back a start that
# much, and only a second miss says the measurement cannot be taken.
mkdir -p "$work/results"
probe() {
    local name=$1 run=$2 wanted=$3 try
    shift 3
    local out=$work/results/$name.$run
    for try in 1 2; do
        if "$mapprobe" --title "$wanted" --log "$work/results/$name.$run.log" "$@" >"$out" \
            2>"$out.err"; then
            return 0
        fi
        if [ "$try" = 1 ] && grep -q '^mapprobe: no window .* within [0-9]* ms' "$out.err"; then
            log "$name run $run: $(tr '\n' ' ' <"$out.err")- trying once more"
            continue
        fi
        break
    done
    log "$name run $run failed: $(tr '\n' ' ' <"$out.err") $(grep -v '^map_ms' "$out" | tr '\n' ' ')"
    failed=1
    return 1
}

# ---- the runs ----------------------------------------------------------------
make_program "$work/idle" 0
make_program "$work/armed" 0
make_program "$work/pairs" "$pairs"
make_program "$work/latency" 0
make_program "$work/testpress" 0
# A long file, read a block at a time: its alarm should cost no more memory
# than the default sound's.
big_mib=1024
[ "$smoke" = 1 ] && big_mib=64
big_label="$big_mib MiB"
[ "$big_mib" = 1024 ] && big_label="1 GiB"
"$soundprobe" tone --out "$work/long.wav" --mib "$big_mib" || {
    echo "could not write $work/long.wav" >&2
    exit 1
}
export BENCH_SOUNDPROBE=$soundprobe

# Other projects' desktop alarm clocks, timed with the same probe when installed.
# name|Debian package|window title|command
peer_list=(
    "alarm-clock-applet|alarm-clock-applet|Alarms|alarm-clock-applet"
    "gnome-clocks|gnome-clocks|Clocks|gnome-clocks"
)
declare -A peer_title peer_command peer_version peer_failed
peer_names=()
if [ "$peers" = 1 ]; then
    for entry in "${peer_list[@]}"; do
        IFS='|' read -r name package peer_window command <<<"$entry"
        peer_names+=("$name")
        command -v "$command" >/dev/null || continue
        peer_title[$name]=$peer_window
        peer_command[$name]=$(command -v "$command")
        peer_version[$name]=$(dpkg-query -W -f '${Version}' "$package" 2>/dev/null || true)
    done
    # A home of their own, so that the person's settings are neither read nor changed.
    peer_home=$work/peer-home
    mkdir -p "$peer_home"
    peer_env=(--env "HOME=$peer_home" --env "XDG_CONFIG_HOME=$peer_home/.config"
        --env "XDG_DATA_HOME=$peer_home/.local/share" --env "XDG_CACHE_HOME=$peer_home/.cache")
fi
# probe_peer NAME RESULTS RUN [mapprobe options...]: another project's program
# that does not start is shown as such in its row; it does not fail the bench.
probe_peer() {
    local name=$1 results=$2 run=$3 was=$failed
    shift 3
    probe "$results" "$run" "${peer_title[$name]}" "${peer_env[@]}" "$@" \
        -- "${peer_command[$name]}" || peer_failed[$name]=1
    failed=$was
}

log "$runs run(s), ${seconds} s windows; other work on this machine disturbs timings"
# One unmeasured start of each, so that every measured one finds the
# libraries and files in the page cache.
log "warming up"
probe warmup-baseline 0 "$baseline_title" --rss-at-ms 0 -- "$baseline" || true
probe warmup-idle 0 "$title" --rss-at-ms 0 -- "$work/idle/roustabell" || true
probe warmup-pairs 0 "$title" --rss-at-ms 0 -- "$work/pairs/roustabell" || true
for name in "${!peer_command[@]}"; do
    probe_peer "$name" "warmup-peer-$name" 0 --rss-at-ms 0
    unset "peer_failed[$name]"
done
for run in $(seq "$runs"); do
    log "run $run of $runs"
    # Alternate the order so that a slow stretch of the machine does not
    # always land on the same program.
    if [ $((run % 2)) = 1 ]; then order="baseline idle"; else order="idle baseline"; fi
    for which in $order; do
        if [ "$which" = baseline ]; then
            probe baseline "$run" "$baseline_title" --window-s "$seconds" -- "$baseline" || true
        else
            probe idle "$run" "$title" --window-s "$seconds" -- "$work/idle/roustabell" || true
        fi
    done
    # More starts than runs: other work on the machine easily throws one
    # start, and the budget is the ratio of two medians.
    for start in $(seq "$extra_starts"); do
        for which in $order; do
            if [ "$which" = baseline ]; then
                probe start-baseline "$run.$start" "$baseline_title" --rss-at-ms 0 -- "$baseline" || true
            else
                probe start-idle "$run.$start" "$title" --rss-at-ms 0 -- "$work/idle/roustabell" || true
            fi
        done
    done
    for name in "${!peer_command[@]}"; do
        probe_peer "$name" "peer-$name" "$run"
    done
    BENCH_PROGDIR=$work/armed probe armed "$run" "$title" --window-s "$seconds" \
        --after-map "bash '$bench/arm.sh'" -- "$work/armed/roustabell" || true
    probe pairs "$run" "$title" --rss-at-ms 0 -- "$work/pairs/roustabell" || true
    # Each alarm run starts from the same configuration.
    make_program "$work/latency" 0
    mkdir -p "$work/latency-run"
    BENCH_PROGDIR=$work/latency BENCH_RUNDIR=$work/latency-run \
        probe latency "$run" "$title" --rss-at-ms 0 \
        --after-map "bash '$bench/latency.sh'" -- "$work/latency/roustabell" || true
    for sound in default long; do
        file=$work/loop-$sound/roustabell.wav
        [ $sound = long ] && file=$work/long.wav
        make_program "$work/loop-$sound" 0 "$file"
        BENCH_PROGDIR=$work/loop-$sound probe "loop-$sound" "$run" "$title" --rss-at-ms 0 \
            --after-map "bash '$bench/loopmemory.sh'" -- "$work/loop-$sound/roustabell" || true
    done
    # A fresh program each run: its first press is the one that loads the sound.
    BENCH_RUNDIR=$work/latency-run probe testpress "$run" "$title" --rss-at-ms 0 \
        --after-map "bash '$bench/testpress.sh'" -- "$work/testpress/roustabell" || true
done
export -n BENCH_PROGDIR BENCH_RUNDIR 2>/dev/null || true

# In-process timings with the large set, on the same desktop.
inproc_runs=$runs
[ "$inproc_runs" -gt 7 ] && inproc_runs=7
# The in-process benchmarks that ran, for the report to print.
inproc_ran=()
for name in "${bench_sources[@]}"; do
    exe=$build/bench/$name
    if [ ! -x "$exe" ]; then
        log "$name was not built"
        failed=1
        continue
    fi
    log "$name"
    if [ "$name" = bench_awaretest ]; then
        args=(--runs "$runs")
        reps=1
    else
        # These take no options and print medians of their own: repeat them.
        args=()
        reps=$inproc_runs
        [ "$smoke" = 1 ] && reps=1
    fi
    inproc_ran+=("$name")
    for rep in $(seq "$reps"); do
        if out=$(timeout 600 "$exe" "${args[@]}" 2>"$work/results/$name.$rep.err"); then
            printf '%s\n' "$out" >"$work/results/$name.$rep.out"
        else
            log "$name failed: $(tail -3 "$work/results/$name.$rep.err" | tr '\n' ' ')"
            failed=1
            break
        fi
    done
done

# ---- the report --------------------------------------------------------------
report=(--runs "$runs" --seconds "$seconds" --pairs "$pairs" --big-label "$big_label")
for name in "${inproc_ran[@]}"; do
    report+=(--inproc "$name")
done
for name in "${peer_names[@]}"; do
    state=ok
    [ -n "${peer_failed[$name]+x}" ] && state=failed
    [ -n "${peer_command[$name]+x}" ] || state=missing
    report+=(--peer "$name|${peer_version[$name]:-}|$state")
done
python3 "$bench/report.py" "$work/results" "${report[@]}" || failed=1
if [ "$failed" = 1 ]; then
    echo
    echo "some measurements could not be taken (see the messages above)"
fi
exit "$failed"
