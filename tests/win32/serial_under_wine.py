#!/usr/bin/env python3
"""The Win32 serial path under Wine, against the Linux program's simulated meter.

serial_under_wine.py CASE --host VANTOR_COMM --wine-run WINE_RUN --program EXE --work DIR

The meter's pseudo-terminal is COM5 of a Wine prefix of this test's own
(DIR/prefix). Cases:
  download  the Windows program's data file, event-driven and blocking, is
            byte for byte what the Linux program writes for the same memory;
  lost      a meter switched off mid-transfer ends the download with 8020, and
            the records received so far are in the data file;
  busy      a port another process holds is refused with 8005 naming it, and
            the holder's download goes on unharmed.
Every wait is on an event (a file, a process), with a generous limit against
hangs only.
"""

import argparse
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import time

LIMIT = 180  # seconds; a hang guard, never a measure


class Failure(Exception):
    pass


def wait_for(what, done, limit=LIMIT):
    end = time.monotonic() + limit
    while not done():
        if time.monotonic() > end:
            raise Failure("gave up waiting for " + what)
        time.sleep(0.02)


def windows_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


class Meter:
    """`vantor-comm simulate`; SEND is pressed at once, or by press()."""

    def __init__(self, t, name, records, send_now=True, paced=False):
        self.link = t.work / (name + ".link")
        self.link.unlink(missing_ok=True)
        args = [t.host, "simulate", "--link", str(self.link), "--records", str(records)]
        if send_now:
            args += ["--send-after", "0"]
        if paced:
            args.append("--paced")
        self.log = open(t.work / (name + ".meter.log"), "w")
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=self.log,
                                        stderr=subprocess.STDOUT)
        t.meters.append(self)
        wait_for("the meter's link " + str(self.link), self.link.exists)

    def press(self):
        self.process.stdin.write(b"\n")
        self.process.stdin.flush()

    def switch_off(self):
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(LIMIT)

    def finished(self):
        # It ends once a download has read everything it sent.
        if self.process.wait(LIMIT) != 0:
            raise Failure("the meter %s ended with %d" % (self.link, self.process.returncode))

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Test:
    def __init__(self, args):
        self.host = args.host
        self.wine_run = args.wine_run
        self.program = args.program
        self.work = pathlib.Path(args.work).resolve()
        self.work.mkdir(parents=True, exist_ok=True)
        self.prefix = self.work / "prefix"
        self.meters = []
        self.windows = []
        # No message box may wait for a person.
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}

    def boot(self):
        # A prefix made before the link, so that its device manager leaves COM5 alone.
        self.run_windows_to_end(["cmd", "/c", "exit", "0"], direct=True)

    def wine_env(self):
        return dict(self.env, WINEPREFIX=str(self.prefix), WINEDEBUG="-all")

    def make_com5(self, meter):
        dos = self.prefix / "dosdevices" / "com5"
        dos.unlink(missing_ok=True)
        dos.symlink_to(meter.link)

    def linux_download(self, meter, data_file, blocking):
        args = [self.host, "download", "--device", str(meter.link), "--data-file",
                str(data_file), "--overwrite"]
        if blocking:
            args.append("--blocking")
        with open(self.work / "linux.log", "w") as log:
            status = subprocess.run(args, stdout=log, stderr=subprocess.STDOUT, timeout=LIMIT,
                                    env=self.env).returncode
        if status != 0:
            raise Failure("the Linux download ended with %d: %s" %
                          (status, (self.work / "linux.log").read_text()))
        meter.finished()
        return data_file.read_bytes()

    def start_windows(self, name, args, direct=False):
        command = [self.wine_run, str(self.prefix)] + ([] if direct else [self.program]) + args
        out = open(self.work / (name + ".out"), "w")
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT, env=self.env,
                                   stdin=subprocess.DEVNULL)
        self.windows.append(process)
        return process, self.work / (name + ".out")

    def run_windows_to_end(self, args, name="boot", direct=False):
        process, out = self.start_windows(name, args, direct)
        status = process.wait(LIMIT)
        return status, out.read_text(errors="replace")

    def close(self):
        for p in self.windows:
            if p.poll() is None:
                p.kill()
                p.wait()
        for m in self.meters:
            m.stop()
        subprocess.run(["wineserver", "-k"], env=self.wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def discard(self):
        # A prefix is over a gigabyte; one that failed stays to be looked into.
        shutil.rmtree(self.prefix, ignore_errors=True)


def expect(condition, message):
    if not condition:
        raise Failure(message)


def windows_download(t, name, port, data_file, blocking, armed=None):
    args = (["--blocking"] if blocking else []) + (
        ["--armed", windows_path(armed)] if armed else []) + [port, windows_path(data_file)]
    return t.start_windows(name, args)


def case_download(t):
    for blocking in (False, True):
        mode = "blocking" if blocking else "events"
        reference = t.linux_download(Meter(t, "ref-" + mode, 40), t.work / ("linux-%s.dat" % mode),
                                     blocking)
        expect(reference.count(b"\r\n") == 40, "the Linux data file holds no 40 records")
        meter = Meter(t, "win-" + mode, 40)
        t.make_com5(meter)
        data_file = t.work / ("win-%s.dat" % mode)
        # A port number, the platform's default device, and a device name.
        process, out = windows_download(t, "win-" + mode, "com5" if blocking else "5", data_file,
                                        blocking)
        status = process.wait(LIMIT)
        log = out.read_text(errors="replace")
        expect(status == 0, "%s: the Windows download ended with %d:\n%s" % (mode, status, log))
        expect(data_file.read_bytes() == reference,
               "%s: the data files differ:\n%s" % (mode, log))
        meter.finished()


def case_lost(t):
    records = 2000  # about 34 s at the line rate: the meter is switched off long before
    reference = t.linux_download(Meter(t, "ref", records), t.work / "linux.dat", False)
    for blocking in (False, True):
        mode = "blocking" if blocking else "events"
        meter = Meter(t, "win-" + mode, records, send_now=False, paced=True)
        t.make_com5(meter)
        data_file = t.work / ("win-%s.dat" % mode)
        armed = t.work / ("armed-" + mode)
        armed.unlink(missing_ok=True)
        process, out = windows_download(t, "win-" + mode, "5", data_file, blocking, armed)
        wait_for(mode + ": the download to open its port",
                 lambda: armed.exists() or process.poll() is not None)
        expect(process.poll() is None, "%s: the download ended before SEND:\n%s" %
               (mode, out.read_text(errors="replace")))
        meter.press()
        wait_for(mode + ": records in the data file",
                 lambda: data_file.exists() and data_file.read_bytes().count(b"\r\n") >= 3)
        meter.switch_off()
        status = process.wait(LIMIT)
        log = out.read_text(errors="replace")
        expect(status == 3, "%s: ended with %d, not as device lost:\n%s" % (mode, status, log))
        expect("error: 8020 " in log and "COM5" in log, "%s: no 8020 naming COM5:\n%s" %
               (mode, log))
        kept = data_file.read_bytes()
        lines = kept.count(b"\r\n")
        expect(kept.endswith(b"\r\n") and kept == reference[:len(kept)],
               "%s: the records kept are not the meter's first %d:\n%s" % (mode, lines, log))
        expect(lines < records and "records: %d\n" % lines in log,
               "%s: %d records in the file, the program says otherwise:\n%s" % (mode, lines, log))


def case_busy(t):
    reference = t.linux_download(Meter(t, "ref", 40), t.work / "linux.dat", False)
    meter = Meter(t, "win", 40, send_now=False)
    t.make_com5(meter)
    holder_file = t.work / "holder.dat"
    armed = t.work / "armed"
    armed.unlink(missing_ok=True)
    holder, holder_out = windows_download(t, "holder", "5", holder_file, False, armed)
    wait_for("the first download to open its port",
             lambda: armed.exists() or holder.poll() is not None)
    expect(holder.poll() is None,
           "the first download ended early:\n" + holder_out.read_text(errors="replace"))
    for blocking in (False, True):
        mode = "blocking" if blocking else "events"
        other_file = t.work / ("other-%s.dat" % mode)
        other_file.write_bytes(b"0,1,2,3\r\n")
        other, other_out = windows_download(t, "other-" + mode, "COM5", other_file, blocking)
        status = other.wait(LIMIT)
        log = other_out.read_text(errors="replace")
        expect(status == 2, "%s: a held port ended with %d, not unarmed:\n%s" %
               (mode, status, log))
        expect("error: 8005 " in log and "COM5" in log, "%s: no 8005 naming COM5:\n%s" %
               (mode, log))
        expect(other_file.read_bytes() == b"0,1,2,3\r\n",
               "%s: the refused download touched its data file" % mode)
    meter.press()
    status = holder.wait(LIMIT)
    log = holder_out.read_text(errors="replace")
    expect(status == 0, "the holder ended with %d:\n%s" % (status, log))
    expect(holder_file.read_bytes() == reference, "the holder's data file differs:\n" + log)
    meter.finished()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=["download", "lost", "busy"])
    parser.add_argument("--host", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    t = Test(args)
    try:
        t.boot()
        {"download": case_download, "lost": case_lost, "busy": case_busy}[args.case](t)
    except (Failure, subprocess.TimeoutExpired) as e:
        print("FAILED:", e, file=sys.stderr)
        return 1
    finally:
        t.close()
    t.discard()
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
