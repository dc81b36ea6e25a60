#!/usr/bin/env python3
"""kymf mount against squashfuse, fuse-zip and archivemount, side by side in one run.

Usage: bench/mount/run.py [DATA_DIR] (default /tmp/rxmfiles-mount; needs root or a user who
may mount FUSE, and Debian's squashfuse, fuse-zip, archivemount, squashfs-tools, zip, gnuplot).

The same files are packed four ways: a KYMF archive (kymf create), an uncompressed squashfs
image (mksquashfs -noI -noD -noF -noX), a stored ZIP (zip -0) and a tar. Every measurement
starts from a fresh mount, so that the kernel's caches of the mounted file system are empty,
while the archives themselves are in the page cache (read once before). Writes
bench/mount.md (the table and the goals) and docs/mount.png (the plot).
"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DATA = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "/tmp/rxmfiles-mount")
KYMF = os.path.join(ROOT, "build/default/tools/kymf/kymf")
MNT = os.path.join(DATA, "mnt")
TOOLS = ["kymf", "squashfuse", "fuse-zip", "archivemount"]
EXTENSION = {"kymf": "kymf", "squashfuse": "sqfs", "fuse-zip": "zip", "archivemount": "tar"}
RANDOM_READS = 20000


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


def mount(tool, name):
    """Mounts; the seconds until the mount answers its first listing."""
    archive = os.path.join(DATA, name + "." + EXTENSION[tool])
    start = time.perf_counter()
    sh(mount_command(tool, archive), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not os.path.ismount(MNT):
        time.sleep(0.001)
    os.listdir(MNT)
    return time.perf_counter() - start


def unmount():
    if subprocess.run(["fusermount3", "-u", MNT], stderr=subprocess.DEVNULL).returncode != 0:
        sh(f"umount {MNT}")
    time.sleep(0.5)  # the server ends


def timed(tool, name, command):
    """Seconds that `command` (MNT in it) takes on a fresh mount; its output."""
    mount(tool, name)
    try:
        start = time.perf_counter()
        out = subprocess.run(command, shell=True, check=True, capture_output=True, text=True).stdout
        return time.perf_counter() - start, out.strip()
    finally:
        unmount()


READER = r"""
import os, random, sys
path, seed, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
fd = os.open(path, os.O_RDONLY)
pages = os.fstat(fd).st_size // 4096
rng = random.Random(seed)
for _ in range(count):
    if len(os.pread(fd, 4096, rng.randrange(pages) * 4096)) != 4096:
        sys.exit("short read")
"""


def random_reads(tool, readers):
    """Random 4 KiB reads per second of the 1 GiB file, `readers` processes at once."""
    mount(tool, "big")
    try:
        start = time.perf_counter()
        running = [subprocess.Popen([sys.executable, "-c", READER, f"{MNT}/big.bin", str(seed),
                                     str(RANDOM_READS)]) for seed in range(1, readers + 1)]
        if any(p.wait() != 0 for p in running):
            raise RuntimeError(f"{tool}: a random reader failed")
        return readers * RANDOM_READS / (time.perf_counter() - start)
    finally:
        unmount()


def sequential(tool):
    seconds, _ = timed(tool, "big", f"cat {MNT}/big.bin > /dev/null")
    return 1 / seconds  # GiB/s


def find_files(tool):
    seconds, found = timed(tool, "many", f"find {MNT} -type f | wc -l")
    assert found == "100000", (tool, found)
    return seconds


def read_all(tool):
    seconds, got = timed(tool, "small", f"find {MNT} -type f -print0 | xargs -0 cat | wc -c")
    assert got == str(10000 * 4096), (tool, got)
    return seconds


def mount_time(tool):
    seconds = mount(tool, "many")
    unmount()
    return seconds


# key: (what it measures, whether more is better)
WORK = {
    "mount": (mount_time, False),
    "find": (find_files, False),
    "ls": (lambda tool: timed(tool, "many", f"ls -lR {MNT} | wc -l")[0], False),
    "readall": (read_all, False),
    "sequential": (sequential, True),
    "random1": (lambda tool: random_reads(tool, 1), True),
    "random2": (lambda tool: random_reads(tool, 2), True),
}


def measure(tools, repeats):
    """The best of `repeats` runs of each work, the tools taking turns, so that whatever else
    runs on the machine meanwhile falls on all of them alike."""
    results = {tool: {} for tool in tools}
    for key, (work, higher) in WORK.items():
        for _ in range(repeats):
            for tool in tools:
                value = work(tool)
                best = results[tool].get(key)
                if best is None or (value > best if higher else value < best):
                    results[tool][key] = value
        print(key, {tool: "%.4g" % results[tool][key] for tool in tools}, flush=True)
    return results


def report(results):
    ours = results["kymf"]
    others = [t for t in TOOLS if t != "kymf"]
    rows = [("mount, 10^5 files", "mount", "ms", 1e3, False),
            ("`find -type f \\| wc -l`, 10^5 files", "find", "ms", 1e3, False),
            ("`ls -lR`, 10^5 files", "ls", "ms", 1e3, False),
            ("read every file, 10^4 x 4 KiB", "readall", "ms", 1e3, False),
            ("read 1 GiB sequentially", "sequential", "GiB/s", 1, True),
            ("random 4 KiB reads, 1 process", "random1", "reads/s", 1, True),
            ("random 4 KiB reads, 2 processes", "random2", "reads/s", 1, True)]
    lines = ["## kymf mount against squashfuse, fuse-zip and archivemount", "",
             "Made by `bench/mount/run.py` (one run, the same files packed four ways, 2-core x86_64",
             "machine; each measurement on a fresh mount, the archives in the page cache). squashfuse",
             "is `squashfuse_ll` of an uncompressed image (`mksquashfs -noI -noD -noF -noX`), fuse-zip",
             "mounts a stored ZIP (`zip -0`), archivemount a tar. Mount time runs from the command's",
             "start until the mount answers its first listing. Each figure is the best of three runs, the",
             "four tools taking turns.", "",
             "| work | unit | " + " | ".join(TOOLS) + " |", "|---|---|" + "---:|" * len(TOOLS)]
    for label, key, unit, scale, _ in rows:
        cells = ["%.3g" % (results[t][key] * scale) for t in TOOLS]
        lines.append(f"| {label} | {unit} | " + " | ".join(cells) + " |")
    goals = []
    for label, key, _, _, higher in rows[:4] + rows[5:]:
        best = max(results[t][key] for t in others) if higher else min(results[t][key] for t in others)
        ratio = ours[key] / best if higher else best / ours[key]
        goals.append((f"{label}: faster than all three", ratio > 1, ratio))
    best_seq = max(results[t]["sequential"] for t in others)
    goals.append(("read 1 GiB sequentially: >= 0.9 of the fastest",
                  ours["sequential"] >= 0.9 * best_seq, ours["sequential"] / best_seq))
    two = ours["random2"] / ours["random1"]
    goals.append(("random reads: 2 processes >= 1.6 x 1", two >= 1.6, two))
    lines += ["", "![the table as ratios to kymf mount](mount.png)", "",
              "| goal | met | ratio (kymf against the best other) |", "|---|---|---:|"]
    lines += ["| %s | %s | %.2f |" % (g, "yes" if met else "**no**", r) for g, met, r in goals]
    lines.append("")
    with open(os.path.join(ROOT, "bench/mount.md"), "w") as f:
        f.write("\n".join(lines))
    plot(results, rows)


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
set ylabel 'speed relative to kymf mount (higher is faster, log scale)'
set xtics rotate by -25 scale 0 font ',9'
set key top right
set grid ytics
plot '%s' using 2:xtic(1) title 'kymf mount', '' using 3 title 'squashfuse', \\
     '' using 4 title 'fuse-zip', '' using 5 title 'archivemount'
""" % (os.path.join(ROOT, "docs/mount.png"), dat), text=True, check=True)


def main():
    generate()
    os.makedirs(MNT, exist_ok=True)
    if os.path.ismount(MNT):
        unmount()
    for name in ["many", "small", "big"]:
        for ext in EXTENSION.values():
            sh(f"cat {DATA}/{name}.{ext} > /dev/null")
    only = os.environ.get("MOUNT_BENCH_TOOLS", " ".join(TOOLS)).split()
    results = measure([tool for tool in TOOLS if tool in only], int(os.environ.get("REPEATS", "3")))
    if len(results) == len(TOOLS):
        report(results)
        print(open(os.path.join(ROOT, "bench/mount.md")).read())


if __name__ == "__main__":
    main()
