#!/usr/bin/env python3
# The spread of every timing the suites print (QINFO lines), over the run
# logs of scripts/repeat-suites.sh, as a Markdown table with the bounds.
#   scripts/suite-spread.py LOG-FOLDER
import glob, re, statistics, sys
pats = [
 ("single play heard, minus the clip's length", r"playOnceLastsTheClip.*clip (\d+) ms: returned after (\d+) ms, heard for (\d+) ms", lambda m: int(m[3])-int(m[1]), "within ±40 ms"),
 ("single play's call returns, minus the clip's length", r"playOnceLastsTheClip.*clip (\d+) ms: returned after (\d+) ms", lambda m: int(m[2])-int(m[1]), "–"),
 ("silent after `stop()`", r"stopSilencesAtOnce\(\) silent (\d+) ms", lambda m: int(m[1]), "< 300 ms"),
 ("built-in ring heard after the call", r"ring heard (\d+) ms after the call", lambda m: int(m[1]), "< 400 ms"),
 ("built-in buzz heard for (of 500 ms)", r"unplayableOnceBuzzesTheBuiltIn.*heard (\d+) ms", lambda m: int(m[1]), "within ±60 ms"),
 ("prepared loop, call to first sample, worst of five", r"worst ([\d.]+) ms", lambda m: float(m[1]), "< 100 ms"),
 ("heard again after the connection is cut", r"heard again (\d+) ms after", lambda m: int(m[1]), "< 4500 ms"),
 ("end to end: alarm heard after its moment", r"alarm heard (\d+) ms after its moment", lambda m: int(m[1]), "≤ 2200 ms"),
 ("end to end: silent after Stop", r"silent (\d+) ms after Stop", lambda m: int(m[1]), "≤ 300 ms"),
 ("end to end: wrong-answer sound took (buzz of 500 ms)", r"wrong-answer sound took (\d+) ms", lambda m: int(m[1]), "≥ 500 ms"),
 ("end to end: silent after the right answer", r"silent (\d+) ms after the right answer", lambda m: int(m[1]), "≤ 300 ms"),
 ("end to end: built-in ring heard after the moment (file deleted)", r"ring heard (\d+) ms after its moment", lambda m: int(m[1]), "≤ 2200 ms"),
 ("whole program: alarm heard after its moment", r"program heard (\d+) ms after its moment", lambda m: int(m[1]), "≤ 2200 ms"),
 ("whole program: silent after the answering key", r"program silent (-?\d+) ms after the answer", lambda m: int(m[1]), "≤ 300 ms"),
]
files = sorted(glob.glob(sys.argv[1] + "/run-*.log"), key=lambda f: int(re.search(r"run-(\d+)", f)[1]))
print("| Measured | Samples | Min | Median | Max | Bound in the test |")
print("|---|---|---|---|---|---|")
for name, pat, f, bound in pats:
    vals = []
    for fn in files:
        for line in open(fn, errors="replace"):
            if "QINFO" in line:
                m = re.search(pat, line)
                if m: vals.append(f(m))
    if not vals: continue
    fmt = lambda v: (f"{v:.1f}" if isinstance(v, float) else str(v)).replace("-", "−") + " ms"
    print(f"| {name} | {len(vals)} | {fmt(min(vals))} | {fmt(statistics.median(vals))} | {fmt(max(vals))} | {bound} |")
