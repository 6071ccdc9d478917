#!/usr/bin/env bash
# Builds and runs the benchmark suite on a private desktop and sound server,
# and prints each figure against its budget. See bench/README.md.
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
for tool in xdotool parec Xvfb openbox; do
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

# values NAME KEY: that key from every run of NAME, one a line.
values() {
    local f
    for f in "$work/results/$1".[0-9]*; do
        case $f in *.log | *.err) continue ;; esac
        sed -n "s/^$2=//p" "$f"
    done | grep -E '^-?[0-9]+([.][0-9]+)?$' || true
}

# stats: "median min max count" of numbers on stdin (median of an even count
# is the mean of the middle two); "- - - 0" when there are none.
stats() {
    sort -g | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "- - - 0"; exit }
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        print m, v[1], v[NR], NR }'
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
declare -A inproc_out
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
    inproc_out[$name]=""
    for rep in $(seq "$reps"); do
        if out=$(timeout 600 "$exe" "${args[@]}" 2>"$work/results/$name.$rep.err"); then
            inproc_out[$name]+="$out"$'\n'
            printf '%s\n' "$out" >"$work/results/$name.$rep.out"
        else
            log "$name failed: $(tail -3 "$work/results/$name.$rep.err" | tr '\n' ' ')"
            failed=1
            break
        fi
    done
done

# ---- the table ---------------------------------------------------------------
# Printed in the format of the README's Performance table, so that a full
# run's can be pasted there as it is.
# fmt "median min max count" SCALE DECIMALS UNIT: "147.2 ms [120.1–281.0]".
fmt() {
    awk -v s="$2" -v d="$3" -v u="$4" '{
        if ($4 == 0) { print "n/a"; exit }
        f = "%." d "f"
        printf f " %s [" f "–" f "]\n", $1 * s, u, $2 * s, $3 * s }' <<<"$1"
}
median_of() { awk '{ print $1 }' <<<"$1"; }
# verdict VALUE LIMIT: met when VALUE <= LIMIT.
verdict() {
    awk -v v="$1" -v l="$2" 'BEGIN {
        if (v !~ /^[0-9.eE+-]+$/ || v == "-" || l !~ /^[0-9.]+$/) print "n/a"
        else if (v + 0 <= l + 0) print "met"; else print "not met" }'
}
scaled() { awk -v s="$2" '{ print ($1 == "-") ? "-" : $1 * s }' <<<"$1"; }
rows=()
row() { rows+=("$1|$2|$3|$4"); }
mib=$(awk 'BEGIN { print 1 / 1024 }')

per30() { # KEY NAME: KEY (CPU ms over the window) scaled to 30 s, one a run
    local f
    for f in "$work/results/$2".[0-9]*; do
        case $f in *.log | *.err) continue ;; esac
        awk -F= -v k="$1" '$1 == k { c = $2 } /^window_s=/ { w = $2 }
            END { if (w > 0) printf "%.2f\n", c * 30 / w }' "$f"
    done
}

# starts KEY WHICH: KEY of every start of WHICH (baseline or idle).
starts() { values "$2" "$1"; values "start-$2" "$1"; }
map_b=$(starts map_ms baseline | stats)
map_i=$(starts map_ms idle | stats)
# ratio_to_bare MEDIAN: "1.05×" against the bare window's start, or "–".
ratio_to_bare() {
    awk -v i="$1" -v b="$(median_of "$map_b")" 'BEGIN {
        if (i == "-" || b == "-" || b <= 0) print "–"; else printf "%.2f×\n", i / b }'
}
ratio=$(ratio_to_bare "$(median_of "$map_i")")
row "start to window mapped" "$(fmt "$map_i" 1 1 ms)" "$(fmt "$map_b" 1 1 ms)" \
    "≤ 1.1× the bare window: $(verdict "${ratio%×}" 1.1) ($ratio)"

row "  run time of its threads up to then" "$(fmt "$(starts cpu_to_map_ms idle | stats)" 1 1 ms)" \
    "$(fmt "$(starts cpu_to_map_ms baseline | stats)" 1 1 ms)" "–"

rss_b=$(values baseline rss_kb | stats)
rss_limit=$(awk -v b="$(median_of "$rss_b")" 'BEGIN {
    if (b == "-") print "-"; else printf "%.1f", b / 1024 + 1.5 }')
r=$(values idle rss_kb | stats)
row "RSS 3 s after start, idle" "$(fmt "$r" "$mib" 1 MiB)" "$(fmt "$rss_b" "$mib" 1 MiB)" \
    "≤ the bare window + 1.5 MiB (${rss_limit} MiB): $(verdict "$(scaled "$(median_of "$r")" "$mib")" "$rss_limit")"
r=$(values armed rss_kb | stats)
row "RSS 3 s after start, armed" "$(fmt "$r" "$mib" 1 MiB)" "–" \
    "≤ 33 MiB: $(verdict "$(scaled "$(median_of "$r")" "$mib")" 33)"
row "  of which anonymous, idle / armed" \
    "$(fmt "$(values idle rss_anon_kb | stats)" "$mib" 1 MiB) / $(fmt "$(values armed rss_anon_kb | stats)" "$mib" 1 MiB)" \
    "$(fmt "$(values baseline rss_anon_kb | stats)" "$mib" 1 MiB)" "–"
for kind in idle armed; do
    base="–"
    [ $kind = idle ] && base=$(fmt "$(per30 cpu_sched_ms baseline | stats)" 1 1 ms)
    c=$(per30 cpu_sched_ms $kind | stats)
    row "run time of all threads per 30 s, $kind" "$(fmt "$c" 1 1 ms)" "$base" \
        "≤ 20 ms: $(verdict "$(median_of "$c")" 20)"
done
# utime + stime comes in 10 ms ticks: a coarse check of the row above.
row "  same from utime + stime, idle / armed" \
    "$(fmt "$(per30 cpu_ms idle | stats)" 1 0 ms) / $(fmt "$(per30 cpu_ms armed | stats)" 1 0 ms)" \
    "$(fmt "$(per30 cpu_ms baseline | stats)" 1 0 ms)" "–"
for kind in idle armed; do
    base="–"
    [ $kind = idle ] && base=$(fmt "$(values baseline csw_threads_per_s | stats)" 1 2 /s)
    c=$(values $kind csw_threads_per_s | stats)
    row "context switches, all threads, $kind" "$(fmt "$c" 1 2 /s)" "$base" \
        "≤ 2/s: $(verdict "$(median_of "$c")" 2)"
done
row "  of which the main thread, idle / armed" \
    "$(fmt "$(values idle csw_main_per_s | stats)" 1 2 /s) / $(fmt "$(values armed csw_main_per_s | stats)" 1 2 /s)" \
    "$(fmt "$(values baseline csw_main_per_s | stats)" 1 2 /s)" "–"

# seconds_row FIGURE NAME KEY LIMIT: a sound or window time kept in ms, shown in s.
seconds_row() {
    local s
    s=$(values "$2" "$3" | stats)
    row "$1" "$(fmt "$s" 0.001 3 s)" "–" "≤ $4 s: $(verdict "$(scaled "$(median_of "$s")" 0.001)" "$4")"
}
seconds_row "alarm audible after its due second" latency onset_ms 1.1
seconds_row "silent after Stop" latency silent_ms 0.1
seconds_row "first Alarm (test) press to audible" testpress onset_ms 0.1
loop_default=$(values loop-default loop_rss_kb | stats)
loop_long=$(values loop-long loop_rss_kb | stats)
loop_limit=$(awk -v d="$(median_of "$loop_default")" 'BEGIN {
    if (d == "-") print "-"; else printf "%.1f", d / 1024 + 1 }')
row "RSS 5 s into the alarm, default sound / $big_label file" \
    "$(fmt "$loop_default" "$mib" 1 MiB) / $(fmt "$loop_long" "$mib" 1 MiB)" "–" \
    "the $big_label file ≤ the default sound + 1 MiB (${loop_limit} MiB): $(verdict "$(scaled "$(median_of "$loop_long")" "$mib")" "$loop_limit")"
row "  peak RSS by then (VmHWM), default / $big_label" \
    "$(fmt "$(values loop-default loop_hwm_kb | stats)" "$mib" 1 MiB) / $(fmt "$(values loop-long loop_hwm_kb | stats)" "$mib" 1 MiB)" \
    "–" "–"

# Paired by run, so that a slow stretch of the machine hits both sides.
delta=$(for run in $(seq "$runs"); do
    p=$(sed -n 's/^map_ms=//p' "$work/results/pairs.$run" 2>/dev/null || true)
    i=$(sed -n 's/^map_ms=//p' "$work/results/idle.$run" 2>/dev/null || true)
    if [ -n "$p" ] && [ -n "$i" ]; then awk -v p="$p" -v i="$i" 'BEGIN { print p - i }'; fi
done | stats)
row "start-up with $pairs pairs, slower than with none" "$(fmt "$delta" 0.001 3 s)" "–" \
    "≤ 0.3 s: $(verdict "$(scaled "$(median_of "$delta")" 0.001)" 0.3)"

# bench_questions prints "open editor (...): T ms" and "Done (...): T ms".
if [ -n "${inproc_out[bench_questions]+x}" ]; then
    q=${inproc_out[bench_questions]}
    e=$(sed -n 's/^open editor.*: *\([0-9.]*\) ms$/\1/p' <<<"$q" | stats)
    d=$(sed -n 's/^Done.*: *\([0-9.]*\) ms$/\1/p' <<<"$q" | stats)
    row "question editor open, $pairs pairs" "$(fmt "$e" 0.001 3 s)" "–" \
        "≤ 0.3 s: $(verdict "$(scaled "$(median_of "$e")" 0.001)" 0.3)"
    row "question editor Done, $pairs pairs" "$(fmt "$d" 0.001 3 s)" "–" \
        "≤ 0.2 s: $(verdict "$(scaled "$(median_of "$d")" 0.001)" 0.2)"
fi
if [ -n "${inproc_out[bench_awaretest]+x}" ]; then
    a=${inproc_out[bench_awaretest]}
    line=$(grep "^awaretest_open_ms pairs=$pairs " <<<"$a" || true)
    if [ -n "$line" ]; then
        m=$(sed -n 's/.* median=\([0-9.]*\) min=\([0-9.]*\) max=\([0-9.]*\).*/\1 \2 \3/p' <<<"$line")
        n=$(sed -n 's/.* runs=\([0-9]*\) .*/\1/p' <<<"$line")
        s="$m $n"
    else
        s="- - - 0"
    fi
    row "awareness window open, $pairs pairs" "$(fmt "$s" 0.001 3 s)" "–" \
        "≤ 0.1 s: $(verdict "$(scaled "$(median_of "$s")" 0.001)" 0.1)"
fi

# table HEADER ROW...: a markdown table, its columns padded to line up.
table() {
    {
        printf '%s\n' "$1"
        awk -F'|' '{ for (i = 1; i <= NF; i++) printf "---%s", (i < NF) ? "|" : "\n" }' <<<"$1"
        shift
        printf '%s\n' "$@"
    } | awk -F'|' '
        # Characters, not bytes: UTF-8 continuation bytes take no column.
        function width(s, t) { t = s; return length(s) - gsub(/[\200-\277]/, "", t) }
        { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; l = width($i); if (l > w[i]) w[i] = l }
          if (NF > nf) nf = NF; n = NR }
        END { for (r = 1; r <= n; r++) {
            line = "|"
            for (i = 1; i <= nf; i++) {
                c = cell[r, i]
                if (r == 2) c = ""
                pad = (r == 2) ? "-" : " "
                for (k = width(c); k < w[i]; k++) c = c pad
                line = line " " c " |" }
            print line } }'
}

cpu=$(sed -n 's/^model name[[:space:]]*: *//p' /proc/cpuinfo | head -1)
[ -n "$cpu" ] || cpu=$(sed -n 's/^\(Hardware\|cpu model\|Model\)[[:space:]]*: *//p' /proc/cpuinfo | head -1)
echo
echo "$(date -u +%Y-%m-%d), $(nproc) cores (${cpu:-CPU model not given}), $runs run(s) with ${seconds} s windows (median [min–max]):"
echo
table "figure|ROUSTABELL|bare Qt window|budget" "${rows[@]}"

if [ "$peers" = 1 ]; then
    # peer_row LABEL RATIO MAP CPU RSS: the last three as stats prints them.
    peer_row() {
        peer_rows+=("$1|$(fmt "$3" 1 1 ms)|$2|$(fmt "$4" 1 1 ms)|$(fmt "$5" "$mib" 1 MiB)")
    }
    peer_rows=()
    peer_row ROUSTABELL "$ratio" "$map_i" "$(starts cpu_to_map_ms idle | stats)" \
        "$(values idle rss_kb | stats)"
    peer_row "bare Qt window" 1.00× "$map_b" "$(starts cpu_to_map_ms baseline | stats)" "$rss_b"
    for name in "${peer_names[@]}"; do
        if [ -z "${peer_command[$name]+x}" ]; then
            peer_rows+=("$name|not installed|–|–|–")
            continue
        fi
        label="$name ${peer_version[$name]}"
        [ -n "${peer_failed[$name]+x}" ] && label+=" (some runs failed: see above)"
        m=$(values "peer-$name" map_ms | stats)
        peer_row "$label" "$(ratio_to_bare "$(median_of "$m")")" "$m" \
            "$(values "peer-$name" cpu_to_map_ms | stats)" "$(values "peer-$name" rss_kb | stats)"
    done
    echo
    echo "Desktop alarm clocks on the same desktop, same probe:"
    echo
    table "program|start to window mapped|to the bare window|run time up to then|RSS 3 s after start" \
        "${peer_rows[@]}"
fi

for name in "${bench_sources[@]}"; do
    [ -n "${inproc_out[$name]+x}" ] || continue
    echo
    echo "$name output:"
    printf '%s' "${inproc_out[$name]}" | sed 's/^/  /'
done
if [ "$failed" = 1 ]; then
    echo
    echo "some measurements could not be taken (see the messages above)"
fi
exit "$failed"
