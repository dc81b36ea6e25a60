"""Turns the results of bench/compare into docs/benchmarks.md and docs/lookup.png."""
import json
import os
import subprocess
import sys

results, docs = sys.argv[1], sys.argv[2]


def load(family):
    with open(os.path.join(results, family + ".json")) as f:
        runs = json.load(f)["benchmarks"]
    # Keyed by the benchmark's argument (the entry size or count); 0 for none.
    keyed = {}
    for run in runs:
        parts = run["name"].split("/")
        keyed[int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0] = run
    return keyed


def ns(run, clock="real_time"):
    unit = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[run["time_unit"]]
    return run[clock] * unit


def cpu(run):
    return ns(run, "cpu_time")


def human_time(nanoseconds):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if nanoseconds >= scale:
            return "%.3g %s" % (nanoseconds / scale, unit)
    return "%.3g ns" % nanoseconds


def size_label(n):
    return {4 << 10: "4 KiB", 1 << 20: "1 MiB", 64 << 20: "64 MiB"}.get(n, str(n))


lines = ["# Benchmarks", "",
         "Made by `bench/compare` (it generates the data, runs every comparison side by side in one run,",
         "warm page cache, and writes this page). RelWithDebInfo, g++ 12, 2-core x86_64 machine.",
         "PhysicsFS is Debian's 3.x reading a stored (uncompressed) ZIP of the same contents.",
         "The same benchmarks against an earlier commit's library, side by side in one run:",
         "[before-after.md](before-after.md) (`bench/before-after REV`).", ""]
targets = []

# Read
ours, plain, physfs = load("Read_RXMFiles"), load("Read_fread"), load("Read_PhysicsFS")
lines += ["## Read: one whole entry", "",
          "| entry | RXMFiles `ReadData` | `fread` | PhysicsFS | RXMFiles / fread throughput | RXMFiles / PhysicsFS | peak memory (ours, fread, PhysicsFS) |",
          "|---|---:|---:|---:|---:|---:|---:|"]
for n in sorted(ours):
    o, f, p = ours[n]["bytes_per_second"], plain[n]["bytes_per_second"], physfs[n]["bytes_per_second"]
    lines.append("| %s | %.2f GiB/s | %.2f GiB/s | %.2f GiB/s | %.2f | %.2f | %.0f / %.0f / %.0f MiB |" % (
        size_label(n), o / 2**30, f / 2**30, p / 2**30, o / f, o / p,
        ours[n]["peak_MiB"], plain[n]["peak_MiB"], physfs[n]["peak_MiB"]))
    targets.append(("Read %s: >= 0.95 of fread" % size_label(n), o / f >= 0.95, "%.2f" % (o / f)))
    targets.append(("Read %s: >= PhysicsFS" % size_label(n), o >= p, "%.2f" % (o / p)))

# Lookup
ours, physfs = load("Lookup_RXMFiles"), load("Lookup_PhysicsFS")
lines += ["", "## Lookup: open an entry by name", "",
          "| entries | RXMFiles | PhysicsFS | PhysicsFS / RXMFiles |", "|---:|---:|---:|---:|"]
with open(os.path.join(results, "lookup.dat"), "w") as plot:
    for n in sorted(ours):
        o, p = ns(ours[n]), ns(physfs[n])
        lines.append("| %d | %s | %s | %.2f |" % (n, human_time(o), human_time(p), p / o))
        plot.write("%d %f %f\n" % (n, o, p))
        targets.append(("Lookup at N = %d: faster than PhysicsFS" % n, o < p, "%.2f" % (p / o)))
smallest, largest = min(ours), max(ours)
flat = ns(ours[largest]) / ns(ours[smallest])
targets.append(("Lookup flat in N (time at 10^6 / time at 10^3 at most 1.5)", flat <= 1.5, "%.2f" % flat))
lines += ["", "![lookup time against entry count](lookup.png)"]

# Loading directories of growing size (bench/LookupBenchmark.cpp)
with open(os.path.join(results, "LoadAndLookup.json")) as f:
    runs = json.load(f)["benchmarks"]
load_runs = {int(r["name"].split("/")[1]): r for r in runs if r["name"].startswith("BM_LoadDirectory/")}
open_runs = {int(r["name"].split("/")[1]): r for r in runs if r["name"].startswith("BM_OpenEveryEntryByName/")}
find_runs = {int(r["name"].split("/")[1]): r for r in runs if r["name"].startswith("BM_FindEveryEntryByName/")}
lines += ["", "## Loading directories of growing size", "",
          "Archives of N one-byte entries; loading reads the records in blocks into elements packed in",
          "one slab. Finding an entry by name is the lookup alone (`CheckEntry`); opening it is the",
          "lookup and a seek of the archive's file to the entry (`OpenFile`). The first lookup of an",
          "archive scans its directory and the second builds its name index, so each lookup timed",
          "here is answered by the index (the open with its index built is timed below).", "",
          "| N | load the directory | per entry | find one entry by name | open one entry by name |",
          "|---:|---:|---:|---:|---:|"]
for n in sorted(load_runs):
    lines.append("| %d | %s | %s | %s | %s |" % (
        n, human_time(ns(load_runs[n])), human_time(ns(load_runs[n]) / n), human_time(ns(find_runs[n])),
        human_time(ns(open_runs[n]))))
found = ns(find_runs[max(find_runs)]) / ns(find_runs[min(find_runs)])
targets.append(("Find by name at 10^6 entries at most 2 x at 10^3", found <= 2, "%.2f" % found))

# Open (bench/LoadBenchmark.cpp): our open against one fread of the same
# records into fresh memory, into fresh memory in huge pages, and into a warm
# buffer; peaks from children of a fresh process.
with open(os.path.join(results, "Load.json")) as f:
    runs = {r["name"].split("/")[0]: r for r in json.load(f)["benchmarks"]}
o = runs["BM_OpenArchiveOf1MEntries"]
oi = runs["BM_OpenArchiveOf1MEntriesAndIndexIt"]
fresh, huge, warm = (runs["BM_FreadOfTheRecords"], runs["BM_FreadOfTheRecordsIntoHugePages"],
                     runs["BM_FreadOfTheRecordsIntoAWarmBuffer"])
lines += ["", "## Open: load a directory of 10^6 records", "",
          "`bench/rxmfiles_bench_load`: both sides read the same cached file in one run; peak is the",
          "growth of the resident set while a child of a fresh process does one open or one read (the",
          "records are 80 MB = 76.3 MiB). Times are CPU time (page faults included), up to the moment",
          "the directory or the records can be used; closing the archive or freeing the records is",
          "not timed. Fresh memory is neither zeroed nor touched before the read.", "",
          "| RXMFiles `OpenMultiFile` | `fread` into fresh memory | in huge pages | into a warm buffer | peak memory (ours, fread) |",
          "|---:|---:|---:|---:|---:|",
          "| %s | %s (%.2fx) | %s (%.2fx) | %s (%.2fx) | %.1f / %.1f MiB (%.2fx) |" % (
              human_time(cpu(o)), human_time(cpu(fresh)), cpu(o) / cpu(fresh), human_time(cpu(huge)),
              cpu(o) / cpu(huge), human_time(cpu(warm)), cpu(o) / cpu(warm), o["peak_MiB"],
              fresh["peak_MiB"], o["peak_per_record_bytes"]),
          "| open, then 8 lookups (the index built): %s | %.2fx | %.2fx | %.2fx | %.1f MiB (%.2fx) |" % (
              human_time(cpu(oi)), cpu(oi) / cpu(fresh), cpu(oi) / cpu(huge), cpu(oi) / cpu(warm),
              oi["peak_MiB"], oi["peak_per_record_bytes"]), "",
          "The open reads the records and makes the elements; the name index is built by the",
          "archive's second lookup, so a program that lists an archive, checks it or reads one entry",
          "never pays for it. The second row is what a program that opens many entries pays in all."]
for label, run in [("into fresh memory", fresh), ("into fresh huge pages", huge), ("into a warm buffer", warm)]:
    targets.append(("Open: at most 3 x one fread " + label, cpu(o) <= 3 * cpu(run), "%.2f" % (cpu(o) / cpu(run))))
targets.append(("Open: peak memory at most 1.3 x the records (64-bit)", o["peak_per_record_bytes"] <= 1.3,
                "%.2f" % o["peak_per_record_bytes"]))

# Insert
o, w, f = load("Insert_RXMFiles")[0], load("Insert_MultiFileWriter")[0], load("Insert_CopyAndSync")[0]
lines += ["", "## Insert: one 4 KiB file into a 512 MiB archive", "",
          "`InsertFile` reads every old entry through the archive object as its behaviour fixes;",
          "`MultiFileWriter` with the archive kept (as `kymf add` does) copies them inside the kernel",
          "(`copy_file_range`). Each family runs in a process of its own, so the peak is its own.", "",
          "| writer | time | copy 512 MiB with fread/fwrite + fsync | ratio | peak memory (writer, copy) |",
          "|---|---:|---:|---:|---:|"]
for label, run in [("`InsertFile`", o), ("`MultiFileWriter`, kept entries", w)]:
    lines.append("| %s | %s | %s | %.2f | %.0f / %.0f MiB |" % (label, human_time(ns(run)), human_time(ns(f)),
                                                             ns(run) / ns(f), run["peak_MiB"], f["peak_MiB"]))
targets.append(("Insert (InsertFile): at most 1.2 x copy + fsync", ns(o) / ns(f) <= 1.2, "%.2f" % (ns(o) / ns(f))))
targets.append(("Insert (MultiFileWriter): at most 1.3 x copy + fsync", ns(w) / ns(f) <= 1.3, "%.2f" % (ns(w) / ns(f))))
targets.append(("Insert (MultiFileWriter): peak memory a few MiB (at most 8)", w["peak_MiB"] <= 8,
                "%.0f MiB" % w["peak_MiB"]))

# Pack
with open(os.path.join(results, "pack.txt")) as f:
    kymf, tar, insert_small, small, tar_sync = f.read().split()
kymf, tar, insert_small, small, tar_sync = float(kymf), float(tar), float(insert_small), int(small), float(tar_sync)
insert_full = insert_small * (10000 / small) ** 2
lines += ["", "## Pack: 10,000 files, about 500 MiB", "",
          "| `kymf create` (one pass, synced) | `tar cf` | `tar cf` + fsync | 10,000 `InsertFile` calls (extrapolated from %d by N²) | kymf / tar | kymf / (tar + fsync) |" % small,
          "|---:|---:|---:|---:|---:|---:|",
          "| %.2f s | %.2f s | %.2f s | %.0f s (%.1f s for %d) | %.2f | %.2f |" % (
              kymf, tar, tar_sync, insert_full, insert_small, small, kymf / tar, kymf / tar_sync)]
targets.append(("Pack: no slower than tar cf", kymf <= tar, "%.2f" % (kymf / tar)))
targets.append(("Pack: no slower than tar cf + fsync (the same guarantee)", kymf <= tar_sync, "%.2f" % (kymf / tar_sync)))

lines += ["", "## Targets", "", "| target | met | ratio |", "|---|---|---:|"]
lines += ["| %s | %s | %s |" % (name, "yes" if met else "**no**", ratio) for name, met, ratio in targets]
lines.append("")
# Sections measured apart (bench/kymf_edit writes kymf-edit.md; the others
# say how they were measured), then the analysis.
here = os.path.dirname(os.path.abspath(__file__))
for part in ["kymf-edit.md", "sums.md", "stream.md", "fuzz-rate.md", "memory.md", "analysis.md", "searchpath.md", "mount.md", "remote.md"]:
    if os.path.exists(os.path.join(here, part)):
        with open(os.path.join(here, part)) as f:
            lines.append(f.read())
with open(os.path.join(docs, "benchmarks.md"), "w") as f:
    f.write("\n".join(lines))

subprocess.run(["gnuplot"], input="""
set terminal pngcairo size 800,480 noenhanced
set output '%s'
set logscale xy
set xlabel 'entries in the archive'
set ylabel 'time per lookup (ns, log scale)'
set key top left
set grid
plot '%s' using 1:2 with linespoints title 'RXMFiles', '' using 1:3 with linespoints title 'PhysicsFS'
""" % (os.path.join(docs, "lookup.png"), os.path.join(results, "lookup.dat")), text=True, check=True)
