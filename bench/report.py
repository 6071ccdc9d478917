#!/usr/bin/env python3
# The bench's report: medians, verdicts and tables from the key=value files
# that bench/run.sh leaves in its results folder, printed in the format of
# bench/README.md's latest run so that a full run's can be pasted there as it
# is. Every budget is in BUDGETS: the verdicts read their limits there, and
# --budgets prints it.
#   bench/report.py RESULTS --runs N --seconds S --pairs N --big-label TEXT
#                   [--inproc NAME]... [--peer NAME|VERSION|STATE]...
#   bench/report.py --budgets
import argparse, datetime, os, re, sys

# key: (figure, budget with {limit} where its limit goes, limit). A budget
# measured against another figure of the same run says so in its text; the
# limit is then what is added to that figure, or the ratio to it.
BUDGETS = {
    "start": ("start to window mapped", "≤ {limit}× the bare window", 1.1),
    "rss_idle": ("RSS 3 s after start, idle", "≤ the bare window + {limit} MiB", 1.5),
    "rss_armed": ("RSS 3 s after start, armed", "≤ {limit} MiB", 33),
    "cpu": ("run time of all threads per 30 s, idle and armed", "≤ {limit} ms", 20),
    "csw": ("context switches, all threads, idle and armed", "≤ {limit}/s", 2),
    "onset": ("alarm audible after its due second", "≤ {limit} s", 1.1),
    "silent": ("silent after Stop", "≤ {limit} s", 0.1),
    "testpress": ("first Alarm (test) press to audible", "≤ {limit} s", 0.1),
    "loop": ("RSS 5 s into the alarm, default sound / {big} file",
             "the {big} file ≤ the default sound + {limit} MiB", 1),
    "pairs_start": ("start-up with {pairs} pairs, slower than with none", "≤ {limit} s", 0.3),
    "editor_open": ("question editor open, {pairs} pairs", "≤ {limit} s", 0.3),
    "editor_done": ("question editor Done, {pairs} pairs", "≤ {limit} s", 0.2),
    "awaretest": ("awareness window open, {pairs} pairs", "≤ {limit} s", 0.1),
    "bound_set": ("Set on a file at the size bound, distinct element names",
                  "≤ {limit} s", 0.5),
    "bound_memory": ("peak RSS of that Set, over the file's size",
                     "≤ {limit}×", 5),
}


def limit(key):
    return BUDGETS[key][2]


def lim(key):
    return f"{limit(key):g}"


def budget(key, **names):
    return BUDGETS[key][1].format(limit=lim(key), **names)


# Computed numbers are written as awk writes them (whole numbers whole, the
# rest to six significant digits), so that a figure near a rounding edge or a
# budget reads the same in runs compared side by side.
def num(x):
    return str(int(x)) if x == int(x) else f"{x:.6g}"


MIB = float(num(1 / 1024))  # KiB to MiB, to the same six digits
NONE = ("-", "-", "-", "0")
NUMBER = re.compile(r"-?[0-9]+([.][0-9]+)?")


def stats(values):
    """(median, min, max, count) as strings; the median of an even count is the
    mean of the middle two."""
    v = sorted(values, key=lambda s: (float(s), s))
    n = len(v)
    if n == 0:
        return NONE
    m = v[n // 2] if n % 2 else num((float(v[n // 2 - 1]) + float(v[n // 2])) / 2)
    return (m, v[0], v[-1], str(n))


def fmt(s, scale, decimals, unit):
    """'147.2 ms [120.1–281.0]', or 'n/a' when there were no values."""
    if float(s[3] or 0) == 0:
        return "n/a"
    f = lambda x: f"{float(x) * scale:.{decimals}f}"
    return f"{f(s[0])} {unit} [{f(s[1])}–{f(s[2])}]"


def scaled(value, scale):
    return "-" if value == "-" else num(float(value) * scale)


def verdict(value, lim):
    """met when VALUE <= LIMIT; n/a when either is missing."""
    try:
        if not re.fullmatch(r"[0-9.eE+-]+", value) or not re.fullmatch(r"[0-9.]+", lim):
            return "n/a"
        return "met" if float(value) <= float(lim) else "not met"
    except ValueError:
        return "n/a"


class Results:
    def __init__(self, folder):
        self.folder = folder
        self.names = sorted(os.listdir(folder))

    def runs_of(self, name):
        """The key=value files of every run of NAME, each as a dict of its keys' values."""
        out = []
        for f in self.names:
            if not f.startswith(name + ".") or not f[len(name) + 1 : len(name) + 2].isdigit():
                continue
            if f.endswith(".log") or f.endswith(".err"):
                continue
            keys = {}
            with open(os.path.join(self.folder, f), errors="replace") as lines:
                for line in lines:
                    k, eq, v = line.rstrip("\n").partition("=")
                    if eq:
                        keys.setdefault(k, []).append(v)
            out.append(keys)
        return out

    def values(self, name, key):
        return [v for keys in self.runs_of(name) for v in keys.get(key, [])
                if NUMBER.fullmatch(v)]

    def per30(self, name, key):
        """KEY (CPU ms over the window) scaled to 30 s, one a run."""
        out = []
        for keys in self.runs_of(name):
            w = float(keys["window_s"][-1]) if "window_s" in keys else 0
            if w > 0:
                c = float(keys[key][-1]) if key in keys else 0
                out.append(f"{c * 30 / w:.2f}")
        return out

    def run_value(self, name, key):
        path = os.path.join(self.folder, name)
        if not os.path.exists(path):
            return []
        with open(path, errors="replace") as lines:
            return [l.rstrip("\n")[len(key) + 1 :] for l in lines if l.startswith(key + "=")]

    def inproc(self, name):
        """Every repetition's output of an in-process benchmark, in order."""
        reps = []
        for f in self.names:
            m = re.fullmatch(re.escape(name) + r"\.([0-9]+)\.out", f)
            if m:
                reps.append((int(m[1]), f))
        text = ""
        for _, f in sorted(reps):
            with open(os.path.join(self.folder, f), errors="replace") as out:
                text += out.read()
        return text


def table(header, rows):
    """A Markdown table, its columns padded to line up."""
    cells = [header.split("|"), ["---"] * len(header.split("|"))] + [r.split("|") for r in rows]
    nf = max(len(r) for r in cells)
    width = [max(len(r[i]) if i < len(r) else 0 for r in cells) for i in range(nf)]
    lines = []
    for n, r in enumerate(cells):
        line = "|"
        for i in range(nf):
            c = "" if n == 1 or i >= len(r) else r[i]
            line += " " + c.ljust(width[i], "-" if n == 1 else " ") + " |"
        lines.append(line)
    return "\n".join(lines)


def cpu_model():
    try:
        with open("/proc/cpuinfo", errors="replace") as f:
            info = f.read().splitlines()
    except OSError:
        return ""
    for pattern in (r"model name\s*: *(.*)", r"(?:Hardware|cpu model|Model)\s*: *(.*)"):
        for line in info:
            m = re.fullmatch(pattern, line)
            if m:
                return m[1]
    return ""


def report(a):
    r = Results(a.results)
    pairs, big = a.pairs, a.big_label
    median = lambda s: s[0]
    rows = []
    row = lambda *cells: rows.append("|".join(cells))

    def starts(key, which):
        return stats(r.values(which, key) + r.values("start-" + which, key))

    map_b, map_i = starts("map_ms", "baseline"), starts("map_ms", "idle")

    def ratio_to_bare(m):
        b = median(map_b)
        if m == "-" or b == "-" or float(b) <= 0:
            return "–"
        return f"{float(m) / float(b):.2f}×"

    ratio = ratio_to_bare(median(map_i))
    row("start to window mapped", fmt(map_i, 1, 1, "ms"), fmt(map_b, 1, 1, "ms"),
        f"{budget('start')}: {verdict(ratio.removesuffix('×'), lim('start'))} ({ratio})")
    row("  run time of its threads up to then", fmt(starts("cpu_to_map_ms", "idle"), 1, 1, "ms"),
        fmt(starts("cpu_to_map_ms", "baseline"), 1, 1, "ms"), "–")

    rss_b = stats(r.values("baseline", "rss_kb"))
    rss_limit = "-" if median(rss_b) == "-" else \
        f"{float(median(rss_b)) / 1024 + limit('rss_idle'):.1f}"
    s = stats(r.values("idle", "rss_kb"))
    row("RSS 3 s after start, idle", fmt(s, MIB, 1, "MiB"), fmt(rss_b, MIB, 1, "MiB"),
        f"{budget('rss_idle')} ({rss_limit} MiB): {verdict(scaled(median(s), MIB), rss_limit)}")
    s = stats(r.values("armed", "rss_kb"))
    row("RSS 3 s after start, armed", fmt(s, MIB, 1, "MiB"), "–",
        f"{budget('rss_armed')}: {verdict(scaled(median(s), MIB), lim('rss_armed'))}")
    anon = lambda name: fmt(stats(r.values(name, "rss_anon_kb")), MIB, 1, "MiB")
    row("  of which anonymous, idle / armed", f"{anon('idle')} / {anon('armed')}",
        anon("baseline"), "–")
    for kind in ("idle", "armed"):
        base = fmt(stats(r.per30("baseline", "cpu_sched_ms")), 1, 1, "ms") if kind == "idle" else "–"
        c = stats(r.per30(kind, "cpu_sched_ms"))
        row(f"run time of all threads per 30 s, {kind}", fmt(c, 1, 1, "ms"), base,
            f"{budget('cpu')}: {verdict(median(c), lim('cpu'))}")
    # utime + stime comes in 10 ms ticks: a coarse check of the row above.
    ticks = lambda name: fmt(stats(r.per30(name, "cpu_ms")), 1, 0, "ms")
    row("  same from utime + stime, idle / armed", f"{ticks('idle')} / {ticks('armed')}",
        ticks("baseline"), "–")
    for kind in ("idle", "armed"):
        base = fmt(stats(r.values("baseline", "csw_threads_per_s")), 1, 2, "/s") \
            if kind == "idle" else "–"
        c = stats(r.values(kind, "csw_threads_per_s"))
        row(f"context switches, all threads, {kind}", fmt(c, 1, 2, "/s"), base,
            f"{budget('csw')}: {verdict(median(c), lim('csw'))}")
    main = lambda name: fmt(stats(r.values(name, "csw_main_per_s")), 1, 2, "/s")
    row("  of which the main thread, idle / armed", f"{main('idle')} / {main('armed')}",
        main("baseline"), "–")

    def seconds_row(key, s):
        figure = BUDGETS[key][0].format(pairs=pairs)
        row(figure, fmt(s, 0.001, 3, "s"), "–",
            f"{budget(key)}: {verdict(scaled(median(s), 0.001), lim(key))}")

    seconds_row("onset", stats(r.values("latency", "onset_ms")))
    seconds_row("silent", stats(r.values("latency", "silent_ms")))
    seconds_row("testpress", stats(r.values("testpress", "onset_ms")))
    loop_default = stats(r.values("loop-default", "loop_rss_kb"))
    loop_long = stats(r.values("loop-long", "loop_rss_kb"))
    loop_limit = "-" if median(loop_default) == "-" else \
        f"{float(median(loop_default)) / 1024 + limit('loop'):.1f}"
    row(BUDGETS["loop"][0].format(big=big),
        f"{fmt(loop_default, MIB, 1, 'MiB')} / {fmt(loop_long, MIB, 1, 'MiB')}", "–",
        f"{budget('loop', big=big)} ({loop_limit} MiB): "
        f"{verdict(scaled(median(loop_long), MIB), loop_limit)}")
    hwm = lambda name: fmt(stats(r.values(name, "loop_hwm_kb")), MIB, 1, "MiB")
    row(f"  peak RSS by then (VmHWM), default / {big}",
        f"{hwm('loop-default')} / {hwm('loop-long')}", "–", "–")

    # Paired by run, so that a slow stretch of the machine hits both sides.
    delta = []
    for run in range(1, a.runs + 1):
        p, i = r.run_value(f"pairs.{run}", "map_ms"), r.run_value(f"idle.{run}", "map_ms")
        if p and i:
            delta.append(num(float(p[0]) - float(i[0])))
    seconds_row("pairs_start", stats(delta))

    if "bench_questions" in a.inproc:
        q = r.inproc("bench_questions").split("\n")
        grab = lambda p: [m[1] for m in (re.fullmatch(p, l) for l in q) if m]
        seconds_row("editor_open", stats(grab(r"open editor.*: *([0-9.]*) ms")))
        seconds_row("editor_done", stats(grab(r"Done.*: *([0-9.]*) ms")))
    if "bench_awaretest" in a.inproc:
        s = NONE
        for line in r.inproc("bench_awaretest").split("\n"):
            if line.startswith(f"awaretest_open_ms pairs={pairs} "):
                m = re.fullmatch(r".* median=([0-9.]*) min=([0-9.]*) max=([0-9.]*).*", line)
                n = re.fullmatch(r".* runs=([0-9]*) .*", line)
                if m and n:
                    s = (m[1], m[2], m[3], n[1])
                break
        seconds_row("awaretest", s)

    if "bench_configsize" in a.inproc:
        # The largest size it ran, the one just under the bound.
        sets, peaks, size, kind = {}, {}, None, None
        for line in r.inproc("bench_configsize").split("\n"):
            m = re.fullmatch(r"([0-9.]+) MiB (\w+)", line)
            if m:
                size, kind = m[1], m[2]
            # The child's peak is printed in MiB, as "MB".
            m = re.fullmatch(r" *Set +([0-9.]+) ms +([0-9.]+) MB.*", line)
            if m and kind == "names":
                sets.setdefault(float(size), []).append(m[1])
                peaks.setdefault(float(size), []).append(num(float(m[2]) / float(size)))
        seconds_row("bound_set", stats(sets[max(sets)]) if sets else NONE)
        s = stats(peaks[max(peaks)]) if peaks else NONE
        row(BUDGETS["bound_memory"][0], fmt(s, 1, 2, "×"), "–",
            f"{budget('bound_memory')}: {verdict(median(s), lim('bound_memory'))}")

    cpu = cpu_model()
    cores = len(os.sched_getaffinity(0))
    today = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d")
    print()
    print(f"{today}, {cores} cores ({cpu or 'CPU model not given'}), {a.runs} run(s) with "
          f"{a.seconds} s windows (median [min–max]):")
    print()
    print(table("figure|ROUSTABELL|bare Qt window|budget", rows))

    if a.peer:
        peer_rows = []

        def peer_row(label, ratio, m, cpu, rss):
            peer_rows.append(f"{label}|{fmt(m, 1, 1, 'ms')}|{ratio}|{fmt(cpu, 1, 1, 'ms')}|"
                             f"{fmt(rss, MIB, 1, 'MiB')}")

        peer_row("ROUSTABELL", ratio, map_i, starts("cpu_to_map_ms", "idle"),
                 stats(r.values("idle", "rss_kb")))
        peer_row("bare Qt window", "1.00×", map_b, starts("cpu_to_map_ms", "baseline"), rss_b)
        for entry in a.peer:
            name, version, state = entry.split("|")
            if state == "missing":
                peer_rows.append(f"{name}|not installed|–|–|–")
                continue
            label = f"{name} {version}"
            if state == "failed":
                label += " (some runs failed: see above)"
            m = stats(r.values("peer-" + name, "map_ms"))
            peer_row(label, ratio_to_bare(median(m)), m,
                     stats(r.values("peer-" + name, "cpu_to_map_ms")),
                     stats(r.values("peer-" + name, "rss_kb")))
        print()
        print("Desktop alarm clocks on the same desktop, same probe:")
        print()
        print(table("program|start to window mapped|to the bare window|run time up to then|"
                    "RSS 3 s after start", peer_rows))

    for name in a.inproc:
        print()
        print(f"{name} output:")
        lines = r.inproc(name).split("\n")
        if lines[-1] == "":
            lines.pop()
        for line in lines:
            print("  " + line)


def budgets():
    print(table("figure|budget", [
        f"{figure.format(big='1 GiB', pairs=32767)}|{budget(key, big='1 GiB')}"
        for key, (figure, _, _) in BUDGETS.items()]))


def main():
    p = argparse.ArgumentParser(description="The bench's report, or its budgets.")
    p.add_argument("results", nargs="?", help="the results folder bench/run.sh fills")
    p.add_argument("--budgets", action="store_true", help="print the budgets and stop")
    p.add_argument("--runs", type=int, default=1)
    p.add_argument("--seconds", default="30", help="the window length, as given to run.sh")
    p.add_argument("--pairs", type=int, default=32767)
    p.add_argument("--big-label", default="1 GiB", help="how the long sound file is named")
    p.add_argument("--inproc", action="append", default=[],
                   help="an in-process benchmark that ran, in the order to print it")
    p.add_argument("--peer", action="append", default=[],
                   help="NAME|VERSION|STATE, STATE one of ok, failed, missing")
    a = p.parse_args()
    if a.budgets:
        budgets()
    elif a.results:
        report(a)
    else:
        p.error("a results folder or --budgets")


if __name__ == "__main__":
    sys.exit(main())
