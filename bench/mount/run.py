#!/usr/bin/env python3
"""kymf mount against squashfuse, fuse-zip and archivemount, side by side in one run.

Usage: bench/mount/run.py [--report] [DATA_DIR] (default /tmp/rxmfiles-mount; needs root or a user who
may mount FUSE, and Debian's squashfuse, fuse-zip, archivemount, squashfs-tools, zip, gnuplot).

The same files are packed four ways: a KYMF archive (kymf create), an uncompressed squashfs
image (mksquashfs -noI -noD -noF -noX), a stored ZIP (zip -0) and a tar. Every measurement
starts from a fresh mount, so that the kernel's caches of the mounted file system are empty,
while the archives themselves are in the page cache (each read whole just before it is
mounted: some machines take back pages untouched for a few seconds). Writes
bench/mount.md (the table and the goals; bench/report.py puts it into docs/benchmarks.md)
and docs/mount.png (the plot); --report writes them again from the last run's results.
"""
import json
import os
import random
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ARGS = [a for a in sys.argv[1:] if not a.startswith("--")]
DATA = os.path.abspath(ARGS[0] if ARGS else "/tmp/rxmfiles-mount")
KYMF = os.path.join(ROOT, "build/default/tools/kymf/kymf")
MNT = os.path.join(DATA, "mnt")
TOOLS = ["kymf", "squashfuse", "fuse-zip", "archivemount"]
EXTENSION = {"kymf": "kymf", "squashfuse": "sqfs", "fuse-zip": "zip", "archivemount": "tar"}
LIMIT = 60  # seconds: longer work is cut, and reported as taking at least this long
RANDOM_READS = 20000  # of 262144 pages


def sh(command, **kw):
    return subprocess.run(command, shell=True, check=True, **kw)


def make_files(folder, count, size, per_folder):
    rng = random.Random(count)
    for i in range(count):
        sub = os.path.join(folder, "d%04d" % (i // per_folder))
        if i % per_folder == 0:
            os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "f%06d.dat" % i), "wb") as f:
            f.write(rng.randbytes(size))


def pack(name):
    src = os.path.join(DATA, name)
    out = os.path.join(DATA, name)
    sh(f"cd {src} && {KYMF} -q create {out}.kymf .")
    sh(f"mksquashfs {src} {out}.sqfs -noI -noD -noF -noX -no-progress -quiet -no-xattrs")
    sh(f"cd {src} && zip -0 -r -q {out}.zip .")
    sh(f"tar cf {out}.tar -C {src} .")


def generate():
    if os.path.exists(os.path.join(DATA, ".complete")):
        return
    shutil.rmtree(DATA, ignore_errors=True)
    os.makedirs(MNT)
    print("== generating data in", DATA, flush=True)
    make_files(os.path.join(DATA, "many"), 100000, 256, 100)  # 10^5 files in 1000 folders
    make_files(os.path.join(DATA, "small"), 10000, 4096, 100)  # 10^4 files of 4 KiB
    os.makedirs(os.path.join(DATA, "big"))
    sh(f"head -c {1 << 30} /dev/urandom > {DATA}/big/big.bin")
    for name in ["many", "small", "big"]:
        pack(name)
    open(os.path.join(DATA, ".complete"), "w").close()


def mount_command(tool, archive):
    return {
        "kymf": f"{KYMF} mount {archive} {MNT}",
        "squashfuse": f"squashfuse_ll {archive} {MNT}",
        "fuse-zip": f"fuse-zip -r {archive} {MNT}",
        "archivemount": f"archivemount -o readonly {archive} {MNT}",
    }[tool]


def warm(path):
    """Reads `path` whole, so that its pages are in the page cache when a timing starts. Some
    machines reclaim pages that nothing has touched for a few seconds (the kernel's DAMON
    pageout: on one of ours, the 32 MB archive of 10^5 files had 2.6 MB left in the cache a
    few minutes after it was read), and a timing that reads them again measures the disk."""
    with open(path, "rb", buffering=0) as f:
        while f.read(1 << 20):
            pass


def mount(tool, name):
    """Mounts; the seconds until the mount answers its first listing."""
    archive = os.path.join(DATA, name + "." + EXTENSION[tool])
    warm(archive)
    start = time.perf_counter()
    sh(mount_command(tool, archive), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not os.path.ismount(MNT):
        time.sleep(0.001)
    os.listdir(MNT)
    return time.perf_counter() - start


def unmount():
    for command in (["fusermount3", "-u", MNT], ["fusermount3", "-u", "-z", MNT], ["umount", "-l", MNT]):
        if subprocess.run(command, stderr=subprocess.DEVNULL).returncode == 0:
            break
    time.sleep(0.5)  # the server ends


def run_capped(command):
    """Runs a shell command for at most LIMIT seconds: (seconds, output, whether it was cut)."""
    process = subprocess.Popen(command, shell=True, stdout=subprocess.PIPE, text=True,
                               start_new_session=True)
    start = time.perf_counter()
    try:
        out, _ = process.communicate(timeout=LIMIT)
        return time.perf_counter() - start, out.strip(), False
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        return LIMIT, "", True


def timed(tool, name, command, expected):
    """(seconds, cut) that `command` (MNT in it) takes on a fresh mount; its output must be
    `expected` unless it was cut at LIMIT seconds."""
    mount(tool, name)
    try:
        seconds, out, cut = run_capped(command)
        if not cut and out != expected:
            raise RuntimeError(f"{tool}: {command}: {out!r}, not {expected!r}")
        return seconds, cut
    finally:
        unmount()


# Opens and reads `count` times (or to the end, or for `seconds`), then prints the reads and
# bytes done and the time. seed 0: in order; otherwise at random 4 KiB pages.
READER = r"""
import os, random, sys, time
path, seed, seconds, size, count = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
start = time.perf_counter()  # the open counts: some servers read the whole file there
end = start + seconds
fd = os.open(path, os.O_RDONLY)
pages = os.fstat(fd).st_size // 4096
rng = random.Random(seed)
reads = done = 0
while reads < count and time.perf_counter() < end:
    at = rng.randrange(pages) * 4096 if seed else done
    got = len(os.pread(fd, size, at))
    if got == 0:
        break
    reads += 1
    done += got
print(reads, done, time.perf_counter() - start)
"""


def readers(count, seed, seconds, size, reads):
    """Starts `count` readers of MNT/big.bin at once; [(reads, bytes, seconds)] of each."""
    running = [subprocess.Popen([sys.executable, "-c", READER, f"{MNT}/big.bin",
                                 str(seed and seed + i), str(seconds), str(size), str(reads)],
                                stdout=subprocess.PIPE, text=True) for i in range(count)]
    results = []
    for process in running:
        out, _ = process.communicate()
        if process.returncode != 0:
            raise RuntimeError("a reader failed")
        reads, done, took = out.split()
        results.append((int(reads), int(done), float(took)))
    return results


def random_reads(tool, count):
    """Random 4 KiB reads per second of the 1 GiB file, RANDOM_READS by each of `count`
    processes at once (the sum of their rates; a reader stops after LIMIT seconds). So few
    pages of the file are read that hardly any read finds its page in the kernel's cache."""
    mount(tool, "big")
    try:
        done = readers(count, 1, LIMIT, 4096, RANDOM_READS)
        return sum(r / t for r, _, t in done), any(r < RANDOM_READS for r, _, _ in done)
    finally:
        unmount()


def sequential(tool):
    """GiB/s reading the 1 GiB file in 1 MiB reads (for at most LIMIT seconds)."""
    mount(tool, "big")
    try:
        [(_, done, took)] = readers(1, 0, LIMIT, 1 << 20, 1 << 30)
        return done / took / (1 << 30), done < (1 << 30)
    finally:
        unmount()


def mount_time(tool):
    seconds = mount(tool, "many")
    unmount()
    return seconds, False


# key: (what it measures, whether more is better)
WORK = {
    "mount": (mount_time, False),
    "find": (lambda t: timed(t, "many", f"find {MNT} -type f | wc -l", "100000"), False),
    "ls": (lambda t: timed(t, "many", f"ls -lR {MNT} | grep -c '^-r'", "100000"), False),
    "readall": (lambda t: timed(t, "small", f"find {MNT} -type f -print0 | xargs -0 cat | wc -c",
                                str(10000 * 4096)), False),
    "sequential": (sequential, True),
    "random1": (lambda t: random_reads(t, 1), True),
    "random2": (lambda t: random_reads(t, 2), True),
}


def measure(tools, repeats):
    """The best of `repeats` runs of each work, the tools taking turns, so that whatever else
    runs on the machine meanwhile falls on all of them alike. A work cut at LIMIT seconds is
    not repeated."""
    results = {tool: {} for tool in tools}
    for key, (work, higher) in WORK.items():
        for _ in range(repeats):
            for tool in tools:
                if results[tool].get(key, (0, False))[1]:
                    continue
                value, cut = work(tool)
                best = results[tool].get(key)
                if best is None or cut or (value > best[0] if higher else value < best[0]):
                    results[tool][key] = (value, cut)
        print(key, {tool: "%.4g%s" % (results[tool][key][0], " (cut)" * results[tool][key][1])
                    for tool in tools}, flush=True)
    return results


ROWS = [("mount, 10^5 files", "mount", "ms", 1e3, False),
        ("`find -type f \\| wc -l`, 10^5 files", "find", "ms", 1e3, False),
        ("`ls -lR`, 10^5 files", "ls", "ms", 1e3, False),
        ("read every file, 10^4 x 4 KiB", "readall", "ms", 1e3, False),
        ("read 1 GiB sequentially", "sequential", "GiB/s", 1, True),
        ("random 4 KiB reads, 1 process", "random1", "reads/s", 1, True),
        ("random 4 KiB reads, 2 processes", "random2", "reads/s", 1, True)]


def cell(value, cut, scale, higher):
    if not cut:
        return "%.3g" % (value * scale)
    return ("%.3g (first %d s)" % (value * scale, LIMIT)) if higher else "> %.3g" % (value * scale)


def report(results):
    value = {t: {k: v[0] for k, v in results[t].items()} for t in TOOLS}
    ours = value["kymf"]
    others = [t for t in TOOLS if t != "kymf"]
    lines = ["## kymf mount against squashfuse, fuse-zip and archivemount", "",
             "Made by `bench/mount/run.py` (one run, the same files packed four ways, 2-core x86_64",
             "machine; each measurement on a fresh mount, the archives in the page cache). squashfuse",
             "is `squashfuse_ll` of an uncompressed image (`mksquashfs -noI -noD -noF -noX`), fuse-zip",
             "mounts a stored ZIP (`zip -0`), archivemount a tar. Mount time runs from the command's",
             "start until the mount answers its first listing. Each figure is the best of %s runs, the"
             % os.environ.get("REPEATS", "3"),
             "four tools taking turns; work that took over %d s was cut there (`>`, or the speed of"
             % LIMIT,
             "its first %d s). Each random reader reads %d random pages of 262144. A figure in ms is"
             % (LIMIT, RANDOM_READS),
             "a time (less is better), the others are speeds.", "",
             "| work | unit | " + " | ".join(TOOLS) + " |", "|---|---|" + "---:|" * len(TOOLS)]
    for label, key, unit, scale, higher in ROWS:
        cells = [cell(*results[t][key], scale, higher) for t in TOOLS]
        lines.append(f"| {label} | {unit} | " + " | ".join(cells) + " |")
    goals = []
    for label, key, _, _, higher in ROWS[:4] + ROWS[5:]:
        best = max(value[t][key] for t in others) if higher else min(value[t][key] for t in others)
        ratio = ours[key] / best if higher else best / ours[key]
        goals.append((f"{label}: faster than all three", ratio > 1, ratio))
    best_seq = max(value[t]["sequential"] for t in others)
    goals.append(("read 1 GiB sequentially: >= 0.9 of the fastest",
                  ours["sequential"] >= 0.9 * best_seq, ours["sequential"] / best_seq))
    two = ours["random2"] / ours["random1"]
    goals.append(("random reads: 2 processes >= 1.6 x 1", two >= 1.6, two))
    lines += ["", "![each tool's speed relative to kymf mount's](mount.png)", "",
              "| goal | met | ratio (kymf against the best other; 2 processes against 1) |",
              "|---|---|---:|"]
    lines += ["| %s | %s | %.2f |" % (g, "yes" if met else "**no**", r) for g, met, r in goals]
    lines.append("")
    notes = os.path.join(ROOT, "bench/mount/notes.md")  # why, written from the figures
    if os.path.exists(notes):
        lines.append(open(notes).read())
    with open(os.path.join(ROOT, "bench/mount.md"), "w") as f:
        f.write("\n".join(lines))
    plot(value, ROWS)


def plot(results, rows):
    """Each tool's speed relative to kymf mount's (1 = as fast), one group per work."""
    dat = os.path.join(DATA, "mount.dat")
    with open(dat, "w") as f:
        for label, key, _, _, higher in rows:
            ours = results["kymf"][key]
            speed = [(results[t][key] / ours) if higher else (ours / results[t][key]) for t in TOOLS]
            f.write('"%s" %s\n' % (label.replace("`", "").replace("\\|", "|"),
                                   " ".join("%.4f" % s for s in speed)))
    subprocess.run(["gnuplot"], input="""
set terminal pngcairo size 900,520 noenhanced
set output '%s'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set logscale y
set ylabel 'speed relative to kymf mount (log scale)'
set lmargin 12
set bmargin 8
set xtics rotate by -25 scale 0 font ',9'
set key outside right top
set grid ytics
plot '%s' using 2:xtic(1) title 'kymf mount', '' using 3 title 'squashfuse', \\
     '' using 4 title 'fuse-zip', '' using 5 title 'archivemount'
""" % (os.path.join(ROOT, "docs/mount.png"), dat), text=True, check=True)


def main():
    generate()
    os.makedirs(MNT, exist_ok=True)
    if os.path.ismount(MNT):
        unmount()
    saved = os.path.join(DATA, "results.json")
    if "--report" in sys.argv:  # the table and plot again from the last run's results
        report(json.load(open(saved)))
        return
    only = os.environ.get("MOUNT_BENCH_TOOLS", " ".join(TOOLS)).split()
    results = measure([tool for tool in TOOLS if tool in only], int(os.environ.get("REPEATS", "3")))
    json.dump(results, open(saved, "w"), indent=1)
    if len(results) == len(TOOLS):
        report(results)
        print(open(os.path.join(ROOT, "bench/mount.md")).read())


if __name__ == "__main__":
    main()
