"""Writes the before/after page from bench/before-after's results.

Usage: before_after.py RESULTS BEFORE_REV AFTER_REV > page.md
RESULTS holds one folder per side and round ("before-1", "after-1", ...),
each with Google Benchmark JSON files. A benchmark's time is its CPU time
(real time for those timed by the clock, "real_time" in their names): on a
shared virtual machine the time other guests take from this one is no
process's CPU time, and swings the clock by tens of percent between rounds.
The page gives the fastest round of each side (the least disturbed) and the
median of the rounds.
"""
import json
import os
import statistics
import sys

CONTROLS = ("BM_Insert_CopyAndSync", "BM_FreadOfTheRecords")


def times(results, side):
    """{benchmark name: [time in ns, one per round]} for one side."""
    found = {}
    for folder in sorted(os.listdir(results)):
        if not folder.startswith(side + "-"):
            continue
        for file in sorted(os.listdir(os.path.join(results, folder))):
            with open(os.path.join(results, folder, file)) as f:
                runs = json.load(f)["benchmarks"]
            for run in runs:
                if run.get("run_type") == "aggregate" or "error_occurred" in run:
                    continue
                key = "real_time" if "real_time" in run["name"] else "cpu_time"
                scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
                found.setdefault(run["name"], []).append(run[key] * scale)
    return found


def shown(ns):
    for unit, size in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= size:
            return f"{ns / size:.3g} {unit}"
    return f"{ns:.3g} ns"


def main():
    results, before_rev, after_rev = sys.argv[1:4]
    before, after = times(results, "before"), times(results, "after")
    rounds = max((len(v) for v in after.values()), default=0)
    print("# Before and after\n")
    print(f"Made by `bench/before-after {before_rev}`: the same benchmark programs of "
          f"`docs/benchmarks.md`, built from {before_rev} and from {after_rev}, run in one "
          f"session on the same data, {rounds} rounds with the order of the sides swapped "
          "every round. Times are CPU time (real time where the name says so); each side's "
          "fastest round is the one the machine disturbed least, and the median shows "
          "how much the rounds swung. Rows in italics do not use the library: they show how "
          "much the machine itself moved between the sides.\n")
    print(f"| benchmark | before ({before_rev}), fastest | after ({after_rev}), fastest "
          "| after / before, fastest | after / before, median |")
    print("|---|---:|---:|---:|---:|")
    for name in sorted(set(before) & set(after)):
        old, new = min(before[name]), min(after[name])
        median = statistics.median(after[name]) / statistics.median(before[name])
        label = f"*{name}*" if name.startswith(CONTROLS) else name
        print(f"| {label} | {shown(old)} | {shown(new)} | {new / old:.2f} | {median:.2f} |")
    only = sorted(set(before) ^ set(after))
    if only:
        print("\nOn one side only: " + ", ".join(only) + ".")


if __name__ == "__main__":
    main()
