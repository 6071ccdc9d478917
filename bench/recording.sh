# shellcheck shell=bash
# The sound device's monitor, recorded from outside the program. Sourced.

# start_recording LEVELS READY LOG: soundprobe records roustabell_null.monitor
# into LEVELS in the background ($recorder) and returns once data flows.
start_recording() {
    rm -f "$2" "$1"
    "$BENCH_SOUNDPROBE" record --device roustabell_null.monitor --seconds 30 \
        --out "$1" --ready "$2" 2>"$3" &
    recorder=$!
    trap stop_recorder EXIT
    for _ in $(seq 100); do
        [ -e "$2" ] && return 0
        sleep 0.05
    done
    echo "the recording never started" >&2
    return 1
}

# Ends the recording, which writes what it has.
stop_recorder() {
    kill -TERM "$recorder" 2>/dev/null || true
    wait "$recorder" 2>/dev/null || true
    trap - EXIT
}
