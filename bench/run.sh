#!/usr/bin/env bash
# Builds and runs the benchmark suite on a private desktop and sound server,
# and prints each figure against its budget. See bench/README.md.
#   bench/run.sh [--runs N] [--seconds S] [--smoke] [--build-dir DIR] [--no-build]
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
usage() {
    sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case $1 in
    --runs) runs=${2:?}; shift 2 ;;
    --seconds) seconds=${2:?}; shift 2 ;;
    --smoke) smoke=1; shift ;;
    --build-dir) build=${2:?}; shift 2 ;;
    --no-build) do_build=0; shift ;;
    -h | --help) usage ;;
    *) echo "unknown argument: $1" >&2; usage ;;
    esac
done
if [ "$smoke" = 1 ]; then
    runs=1
    seconds=3
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
cleanup() {
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
export QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8 XDG_RUNTIME_DIR=$work/xdg
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR

title="Quillon's Clamorific Alarm Clock Thingy"
baseline_title="Bare Qt clock baseline"
pairs=32767
failed=0

xml_escape() { sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g'; }

# make_program DIR PAIRS: the executable and its sounds, with a configuration
# naming the default sound and a time an hour ahead (not armed by itself).
make_program() {
    local dir=$1 count=$2
    mkdir -p "$dir"
    cp "$program" "$dir/roustabell"
    cp "$(dirname "$program")/libroustabell-sound.so" "$dir/"
    cp "$(dirname "$program")/roustabell.wav" "$(dirname "$program")/WRONG!.WAV" "$dir/"
    {
        echo '<?xml version="1.0" encoding="UTF-8"?>'
        echo '<AlarmClockConfig>'
        echo "  <WakeyFileName>$(printf '%s' "$dir/roustabell.wav" | xml_escape)</WakeyFileName>"
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
export BENCH_SOUNDPROBE=$soundprobe

log "$runs run(s), ${seconds} s windows; other work on this machine disturbs timings"
# One unmeasured start of each, so that every measured one finds the
# libraries and files in the page cache.
log "warming up"
probe warmup-baseline 0 "$baseline_title" --rss-at-ms 0 -- "$baseline" || true
probe warmup-idle 0 "$title" --rss-at-ms 0 -- "$work/idle/roustabell" || true
probe warmup-pairs 0 "$title" --rss-at-ms 0 -- "$work/pairs/roustabell" || true
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
    BENCH_PROGDIR=$work/armed probe armed "$run" "$title" --window-s "$seconds" \
        --after-map "bash '$bench/arm.sh'" -- "$work/armed/roustabell" || true
    probe pairs "$run" "$title" --rss-at-ms 0 -- "$work/pairs/roustabell" || true
    # Each alarm run starts from the same configuration.
    make_program "$work/latency" 0
    mkdir -p "$work/latency-run"
    BENCH_PROGDIR=$work/latency BENCH_RUNDIR=$work/latency-run \
        probe latency "$run" "$title" --rss-at-ms 0 \
        --after-map "bash '$bench/latency.sh'" -- "$work/latency/roustabell" || true
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
fmt() { # fmt "median min max count" SCALE DECIMALS
    awk -v s="$2" -v d="$3" '{
        if ($4 == 0) { print "n/a"; exit }
        f = "%." d "f"
        printf f " [" f "-" f "]", $1 * s, $2 * s, $3 * s
        if ($4 > 1) printf " n=%d", $4
        printf "\n" }' <<<"$1"
}
median_of() { awk '{ print $1 }' <<<"$1"; }
# verdict VALUE LIMIT: met when VALUE <= LIMIT.
verdict() {
    awk -v v="$1" -v l="$2" 'BEGIN {
        if (v == "" || v == "-") print "n/a"; else if (v + 0 <= l + 0) print "met"; else print "NOT met" }'
}
rows=()
row() { rows+=("$1|$2|$3|$4|$5"); }

per30() { # CPU ms over the window, scaled to 30 s
    local name=$1 f
    for f in "$work/results/$name".[0-9]*; do
        case $f in *.log | *.err) continue ;; esac
        awk -F= '/^cpu_ms=/ { c = $2 } /^window_s=/ { w = $2 }
            END { if (w > 0) printf "%.2f\n", c * 30 / w }' "$f"
    done
}
per30_sched() {
    local name=$1 f
    for f in "$work/results/$name".[0-9]*; do
        case $f in *.log | *.err) continue ;; esac
        awk -F= '/^cpu_sched_ms=/ { c = $2 } /^window_s=/ { w = $2 }
            END { if (w > 0) printf "%.2f\n", c * 30 / w }' "$f"
    done
}

map_b=$(values baseline map_ms | stats)
map_i=$(values idle map_ms | stats)
limit=$(awk -v b="$(median_of "$map_b")" 'BEGIN { if (b == "-") print "-"; else printf "%.1f", b * 1.2 }')
row "start to window mapped (ms)" "$(fmt "$map_i" 1 1)" "$(fmt "$map_b" 1 1)" \
    "<= 1.2x baseline (${limit} ms)" "$(verdict "$(median_of "$map_i")" "$limit")"

for kind in idle armed; do
    budget=31
    [ $kind = armed ] && budget=36
    r=$(values $kind rss_kb | stats)
    base="-"
    [ $kind = idle ] && base=$(fmt "$(values baseline rss_kb | stats)" "$(awk 'BEGIN { print 1 / 1024 }')" 1)
    row "RSS 3 s after start, $kind (MiB)" "$(fmt "$r" "$(awk 'BEGIN { print 1 / 1024 }')" 1)" \
        "$base" "<= $budget" "$(verdict "$(awk '{ print ($1 == "-") ? "-" : $1 / 1024 }' <<<"$r")" $budget)"
done
for kind in idle armed; do
    r=$(values $kind rss_anon_kb | stats)
    base="-"
    [ $kind = idle ] && base=$(fmt "$(values baseline rss_anon_kb | stats)" "$(awk 'BEGIN { print 1 / 1024 }')" 1)
    row "  of which anonymous, $kind (MiB)" "$(fmt "$r" "$(awk 'BEGIN { print 1 / 1024 }')" 1)" \
        "$base" "-" "-"
done
for kind in idle armed; do
    c=$(per30 $kind | stats)
    base="-"
    [ $kind = idle ] && base=$(fmt "$(per30 baseline | stats)" 1 0)
    row "CPU per 30 s, $kind (ms, utime+stime)" "$(fmt "$c" 1 0)" "$base" "<= 20" \
        "$(verdict "$(median_of "$c")" 20)"
    c=$(per30_sched $kind | stats)
    base="-"
    [ $kind = idle ] && base=$(fmt "$(per30_sched baseline | stats)" 1 1)
    row "  same, all threads' run time (ms)" "$(fmt "$c" 1 1)" "$base" "<= 20" \
        "$(verdict "$(median_of "$c")" 20)"
done
for kind in idle armed; do
    c=$(values $kind csw_main_per_s | stats)
    base="-"
    [ $kind = idle ] && base=$(fmt "$(values baseline csw_main_per_s | stats)" 1 2)
    row "context switches/s, $kind, main thread" "$(fmt "$c" 1 2)" "$base" "<= 2" \
        "$(verdict "$(median_of "$c")" 2)"
    c=$(values $kind csw_threads_per_s | stats)
    base="-"
    [ $kind = idle ] && base=$(fmt "$(values baseline csw_threads_per_s | stats)" 1 2)
    row "context switches/s, $kind, all threads" "$(fmt "$c" 1 2)" "$base" "<= 2" \
        "$(verdict "$(median_of "$c")" 2)"
done

onset=$(values latency onset_ms | stats)
row "alarm audible after its due second (s)" "$(fmt "$onset" 0.001 3)" "-" "<= 1.1" \
    "$(verdict "$(awk '{ print ($1 == "-") ? "-" : $1 / 1000 }' <<<"$onset")" 1.1)"
silent=$(values latency silent_ms | stats)
row "silent after Stop (s)" "$(fmt "$silent" 0.001 3)" "-" "<= 0.1" \
    "$(verdict "$(awk '{ print ($1 == "-") ? "-" : $1 / 1000 }' <<<"$silent")" 0.1)"

map_p=$(values pairs map_ms | stats)
row "start-up, $pairs pairs (ms)" "$(fmt "$map_p" 1 1)" "-" "-" "-"
# Paired by run, so that a slow stretch of the machine hits both sides.
delta=$(for run in $(seq "$runs"); do
    p=$(sed -n 's/^map_ms=//p' "$work/results/pairs.$run" 2>/dev/null || true)
    i=$(sed -n 's/^map_ms=//p' "$work/results/idle.$run" 2>/dev/null || true)
    if [ -n "$p" ] && [ -n "$i" ]; then awk -v p="$p" -v i="$i" 'BEGIN { print p - i }'; fi
done | stats)
row "  start-up slower than with none (s)" "$(fmt "$delta" 0.001 3)" "-" "<= 0.3" \
    "$(verdict "$(awk '{ print ($1 == "-") ? "-" : $1 / 1000 }' <<<"$delta")" 0.3)"

# bench_questions prints "open editor (...): T ms" and "Done (...): T ms".
if [ -n "${inproc_out[bench_questions]+x}" ]; then
    q=${inproc_out[bench_questions]}
    e=$(sed -n 's/^open editor.*: *\([0-9.]*\) ms$/\1/p' <<<"$q" | stats)
    d=$(sed -n 's/^Done.*: *\([0-9.]*\) ms$/\1/p' <<<"$q" | stats)
    row "editor open, $pairs pairs (s)" "$(fmt "$e" 0.001 3)" "-" "<= 0.3" \
        "$(verdict "$(awk '{ print ($1 == "-") ? "-" : $1 / 1000 }' <<<"$e")" 0.3)"
    row "editor Done, $pairs pairs (s)" "$(fmt "$d" 0.001 3)" "-" "<= 0.2" \
        "$(verdict "$(awk '{ print ($1 == "-") ? "-" : $1 / 1000 }' <<<"$d")" 0.2)"
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
    row "awareness window open, $pairs pairs (s)" "$(fmt "$s" 0.001 4)" "-" "<= 0.1" \
        "$(verdict "$(awk '{ print ($1 == "-") ? "-" : $1 / 1000 }' <<<"$s")" 0.1)"
fi

echo
echo "ROUSTABELL benchmarks: $runs run(s), ${seconds} s windows, $(nproc) cores, $(date -u +%Y-%m-%dT%H:%MZ)"
echo "median [min-max]; figures from a shared machine are disturbed by other work"
echo
{
    echo "figure|ROUSTABELL|baseline|budget|verdict"
    echo "---|---|---|---|---"
    printf '%s\n' "${rows[@]}"
} | awk -F'|' '
    { for (i = 1; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } n = NR }
    END { for (r = 1; r <= n; r++) {
        line = "| "
        for (i = 1; i <= 5; i++) {
            c = cell[r, i]
            if (c ~ /^-+$/ && r == 2) { c = ""; while (length(c) < w[i]) c = c "-" }
            line = line sprintf("%-" w[i] "s", c) " | " }
        sub(/ $/, "", line); print line } }'

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
