"""Writes the before/after page from bench/before-after's results.

Usage: before_after.py RESULTS BEFORE_REV AFTER_REV > page.md
RESULTS holds one folder per side and round ("before-1", "after-1", ...),
each with Google Benchmark JSON files. A benchmark's time is its median over
the rounds: real time, except the directory loads, whose programs report
CPU time (page faults included).
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
                key = "cpu_time" if file == "Load.json" else "real_time"
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
          "every round. Each time is the median of the rounds (real time; CPU time for the "
          "directory loads). Rows in italics do not use the library: they show how much "
          "the machine itself moved between the sides.\n")
    print(f"| benchmark | before ({before_rev}) | after ({after_rev}) | after / before |")
    print("|---|---:|---:|---:|")
    for name in sorted(set(before) & set(after)):
        old, new = statistics.median(before[name]), statistics.median(after[name])
        label = f"*{name}*" if name.startswith(CONTROLS) else name
        print(f"| {label} | {shown(old)} | {shown(new)} | {new / old:.2f} |")
    only = sorted(set(before) ^ set(after))
    if only:
        print("\nOn one side only: " + ", ".join(only) + ".")


if __name__ == "__main__":
    main()
