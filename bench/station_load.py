#!/usr/bin/env python3
"""What a station costs: armed and idle, with every meter sending, and over
a thousand downloads in a row.

1. N simulated meters (`vantor-comm simulate --from CAPTURE --paced`), each
   on its own pseudo-terminal, and `vantor-comm station` armed on all of
   them. Idle for IDLE seconds: the station's CPU time and its wakeups
   (context switches of all its threads, from /proc).
2. SEND on every meter at once (a different memory each, at 9600 baud): the
   station's CPU time over the wall time until the last download is in the
   index; every archived file compared byte for byte with `vantor-comm
   decode` of the same capture.
3. One more meter, a pseudo-terminal of this script's own, sends a short
   memory REPEATS times in a row, each after the last is in the index: the
   station's resident memory and open files at the start and at the end.

usage: bench/station_load.py [BUILD_DIR] [--against OTHER_BUILD_DIR]
                             [--meters 64] [--records 600] [--idle 20]
                             [--repeats 1000]
Needs the benchmarks built (vantor_make_capture). With --against the same
run measures the other build afterwards, and a table sets the two side by
side (the other build needs only vantor-comm and vantor_make_capture).
"""

import argparse
import glob
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time

TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def wakeups(pid):
    total = 0
    for status in glob.glob(f"/proc/{pid}/task/*/status"):
        try:
            with open(status) as f:
                for line in f:
                    if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass  # a thread that ended
    return total


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def open_files(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def rows(index):
    if not os.path.exists(index):
        return 0
    with sqlite3.connect(f"file:{index}?mode=ro", uri=True, timeout=5) as db:
        return db.execute("SELECT count(*) FROM downloads").fetchone()[0]


def wait_for(what, test, seconds):
    end = time.monotonic() + seconds
    while not test():
        if time.monotonic() > end:
            raise TimeoutError(f"gave up waiting for {what}")
        time.sleep(0.005)


def measure(build, o):
    """Runs the three parts on one build; returns its figures and whether all went well."""
    vc = os.path.join(build, "vantor-comm")
    make_capture = os.path.join(build, "bench", "vantor_make_capture")
    for tool in (vc, make_capture):
        if not os.access(tool, os.X_OK):
            sys.exit(f"missing {tool} (build with -DVANTOR_BUILD_BENCH=ON first)")

    base = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    work = tempfile.mkdtemp(prefix="vantor-station.", dir=base)
    meters, station, failed = [], None, False
    got = {}
    try:
        os.mkdir(f"{work}/meters")
        archive, index = f"{work}/archive", f"{work}/archive/index.sqlite"
        for i in range(o.meters):
            cap, ref = f"{work}/cap-{i}.bin", f"{work}/ref-{i}.dat"
            subprocess.run([make_capture, str(o.records + i), cap], check=True)
            subprocess.run([vc, "decode", cap, "--data-file", ref], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            meters.append(subprocess.Popen(
                [vc, "simulate", "--from", cap, "--paced", "--link", f"{work}/meters/meter-{i:02}"],
                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        wait_for("the meters' links",
                 lambda: len(os.listdir(f"{work}/meters")) == o.meters, 30)

        log = open(f"{work}/station.log", "w+")
        station = subprocess.Popen([vc, "station", "--archive", archive, "--device",
                                    f"{work}/meters/meter-*"], stderr=log)
        armed = lambda: open(log.name).read().count(": armed,")
        wait_for("the station to arm every meter", lambda: armed() >= o.meters, 30)
        pid = station.pid

        print(f"== 1. {o.meters} meters armed, idle for {o.idle:g} s")
        time.sleep(1)
        cpu0, wake0, t0 = cpu_seconds(pid), wakeups(pid), time.monotonic()
        time.sleep(o.idle)
        wall = time.monotonic() - t0
        cpu, wake = cpu_seconds(pid) - cpu0, wakeups(pid) - wake0
        got["idle"] = (100 * cpu / wall, wake, resident_kib(pid), open_files(pid))
        print(f"station CPU {cpu:.2f} s = {100 * cpu / wall:.2f}% of a core; "
              f"{wake} wakeups ({wake / wall:.1f} a second); "
              f"{resident_kib(pid)} KiB resident, {open_files(pid)} open files")

        print(f"== 2. SEND on all {o.meters} at once ({o.records}..{o.records + o.meters - 1} "
              "records each, 9600 baud)")
        cpu0, wake0, t0 = cpu_seconds(pid), wakeups(pid), time.monotonic()
        for m in meters:
            m.stdin.write(b"\n")
            m.stdin.flush()
        wait_for("every download in the index", lambda: rows(index) >= o.meters,
                 30 + (o.records + o.meters) * 16 / 960)
        wall = time.monotonic() - t0
        cpu, wake = cpu_seconds(pid) - cpu0, wakeups(pid) - wake0
        exact = 0
        for i in range(o.meters):
            found = glob.glob(f"{archive}/meter-{i:02}/*.dat")
            with open(f"{work}/ref-{i}.dat", "rb") as ref:
                want = ref.read()
            if len(found) == 1 and not found[0].endswith(".partial.dat"):
                with open(found[0], "rb") as f:
                    exact += f.read() == want
        failed |= exact != o.meters
        frames = sum(o.records + i for i in range(o.meters))
        load = os.getloadavg()[0]
        got["send"] = (100 * cpu / wall, wake, frames, exact, load)
        print(f"wall {wall:.2f} s; station CPU {cpu:.2f} s = {100 * cpu / wall:.2f}% of a core; "
              f"{wake} wakeups for {frames} frames; {exact} of {o.meters} files exact; "
              f"load average {load:.2f}")

        print(f"== 3. {o.repeats} downloads in a row from one meter")
        for m in meters:
            m.wait(timeout=30)
        master, slave = os.openpty()
        os.symlink(os.ttyname(slave), f"{work}/meters/meter-repeat")
        os.close(slave)
        wait_for("the station to arm the last meter",
                 lambda: "meters/meter-repeat: armed" in open(log.name).read(), 30)
        subprocess.run([make_capture, "5", f"{work}/small.bin"], check=True)
        with open(f"{work}/small.bin", "rb") as f:
            small = f.read()
        done = rows(index)
        samples = []
        t0 = time.monotonic()
        for n in range(1, o.repeats + 1):
            os.write(master, small)
            wait_for(f"download {n}", lambda: rows(index) >= done + n, 30)
            if n in (10, o.repeats // 10, o.repeats):
                samples.append((n, resident_kib(pid), open_files(pid)))
        wall = time.monotonic() - t0
        for n, rss, fds in samples:
            print(f"after {n:5} downloads: {rss} KiB resident, {fds} open files")
        print(f"{o.repeats / wall:.0f} downloads a second")
        got["repeat"] = (samples, o.repeats / wall)
        os.close(master)
    except TimeoutError as e:
        failed = True
        print(e, file=sys.stderr)
        if station is not None:
            print(open(f"{work}/station.log").read()[-3000:], file=sys.stderr)
    finally:
        for m in meters:
            if m.poll() is None:
                m.kill()
        if station is not None:
            station.terminate()
            station.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)
    return got, not failed


def table(names, results, o):
    def cells(r):
        if "repeat" not in r:
            return ["failed"] * 8
        idle_cpu, idle_wake, _, _ = r["idle"]
        cpu, wake, frames, exact, load = r["send"]
        samples, rate = r["repeat"]
        return [f"{idle_cpu:.2f}%", str(idle_wake), f"**{cpu:.1f}%**",
                f"{wake} ({wake / frames:.2f} a frame)", f"{exact} of {o.meters}", f"{load:.2f}",
                ", ".join(f"{rss} KiB/{fds}" for _, rss, fds in samples), f"{rate:.0f}"]
    labels = ["idle: CPU of a core", "idle: wakeups", f"{o.meters} sending: CPU of a core",
              f"{o.meters} sending: wakeups", "files exact",
              "load average after sending (other programs slow the meters and the station)",
              "resident/open files after " + ", ".join(
                  str(n) for n in (10, o.repeats // 10, o.repeats)),
              "downloads a second"]
    columns = [cells(r) for r, _ in results]
    print()
    print("| | " + " | ".join(names) + " |")
    print("|---" * (len(names) + 1) + "|")
    for i, label in enumerate(labels):
        print(f"| {label} | " + " | ".join(c[i] for c in columns) + " |")


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("build", nargs="?", default=os.path.join(root, "build"))
    p.add_argument("--against", metavar="OTHER_BUILD_DIR")
    p.add_argument("--meters", type=int, default=64)
    p.add_argument("--records", type=int, default=600)
    p.add_argument("--idle", type=float, default=20)
    p.add_argument("--repeats", type=int, default=1000)
    o = p.parse_args()
    builds = [o.build] + ([o.against] if o.against else [])
    results = []
    for build in builds:
        print(f"=== {build}")
        results.append(measure(build, o))
    if o.against:
        table(builds, results, o)
    return 0 if all(ok for _, ok in results) else 1


if __name__ == "__main__":
    sys.exit(main())
