#!/usr/bin/env python3
"""The automation server under Wine's own hosts, against the Linux program's simulated meters.

automation_under_wine.py CASE --host VANTOR_COMM --wine-run WINE_RUN --ocx OCX --work DIR
                         [--early-bound EXE] [--bits 64|32]

Each case has a Wine prefix of its own (DIR/prefix). --bits picks the hosts: the 32-bit
server is registered and scripted by syswow64's regsvr32 and cscript. Cases:
  register     regsvr32 for the machine and per user: the keys are there while registered,
               and unregistering leaves the classes of the machine and of the user as they
               were;
  vbscript     check.vbs through cscript: the interface's edge cases and errors, a blocking
               download and a polled one, both data files byte for byte the Linux program's;
  jscript      check.js: a few edge cases and a polled download;
  early_bound  early_bound.cpp, through _Vantor_Comm's vtable, and its polled download.
"""

import argparse
import difflib
import pathlib
import re
import shutil
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
# The source tree stays as it was: no bytecode beside the module imported from it.
sys.dont_write_bytecode = True
sys.path.insert(0, str(HERE.parent / "win32"))
from serial_under_wine import Failure, Meter, Test, expect, windows_path  # noqa: E402

RECORDS = 40
CLSID = "{94f05123-1118-4727-a5cc-8811292fd330}"
TYPELIB = "{378a7527-0c83-4ae5-825a-f43912192a67}"
PROGIDS = ("VantorComm.Vantor_Comm", "VantorComm.Vantor_Comm.1")
MACHINE = r"HKLM\Software\Classes"
USER = r"HKCU\Software\Classes"


class Hosts:
    """Wine's programs of the server's bitness, run to their end in the test's prefix."""

    def __init__(self, t, args):
        self.t = t
        self.ocx = windows_path(args.ocx)
        self.bits = args.bits
        # Debian's wine starts a program named with ".exe" or by its path in system32 as
        # the 32-bit one: the 64-bit ones go by their bare names.
        if args.bits == 32:
            self.regsvr32_exe, self.cscript_exe, self.reg_exe = (
                "C:\\windows\\syswow64\\%s.exe" % p for p in ("regsvr32", "cscript", "reg"))
        else:
            self.regsvr32_exe, self.cscript_exe, self.reg_exe = "regsvr32", "cscript", "reg"
        self.runs = 0

    def run(self, args):
        self.runs += 1
        return self.t.run_windows_to_end(args, "run%02d" % self.runs, direct=True)

    def regsvr32(self, *options):
        args = [self.regsvr32_exe, "/s"] + list(options) + [self.ocx]
        status, out = self.run(args)
        expect(status == 0, "%s ended with %d:\n%s" % (" ".join(args), status, out))

    def register(self, per_user=False):
        self.regsvr32(*(["/n", "/i:user"] if per_user else []))

    def unregister(self, per_user=False):
        self.regsvr32(*(["/u", "/n", "/i:user"] if per_user else ["/u"]))

    def export(self, key):
        """All of key as reg export writes it; None when there is no such key."""
        # The 64-bit reg: its export of a root holds the 32-bit view's Wow6432Node too.
        status, out = self.run(["reg", "query", key])
        if status != 0:
            return None
        self.runs += 1
        path = self.t.work / ("export%02d.reg" % self.runs)
        status, out = self.run(["reg", "export", key, windows_path(path), "/y"])
        expect(status == 0, "reg export %s ended with %d:\n%s" % (key, status, out))
        return path.read_bytes().decode("utf-16")

    def values(self, key):
        """The values of key in the server's view, {name: data}; None when it is missing."""
        status, out = self.run([self.reg_exe, "query", key])
        if status != 0:
            return None
        found = {}
        for line in out.splitlines():
            m = re.match(r"^    (.+?)    (REG_\w+)(?:    (.*))?$", line)
            if m:
                found[m.group(1).lower()] = m.group(3) or ""
        return found


def same(what, before, after):
    if before != after:
        lines = [text.splitlines() if text is not None else ["(no such key)"]
                 for text in (before, after)]
        diff = difflib.unified_diff(*lines, "before", "after", lineterm="", n=1)
        raise Failure("%s:\n%s" % (what, "\n".join(list(diff)[:60])))


def check_registered(hosts, root):
    def value(key, name="(default)"):
        values = hosts.values(root + "\\" + key)
        expect(values is not None, "%s\\%s is missing" % (root, key))
        expect(name in values, "%s\\%s has no %s: %s" % (root, key, name, values))
        return values[name]

    server = "CLSID\\%s\\InprocServer32" % CLSID
    expect(value(server).lower() == hosts.ocx.lower(),
           "%s\\%s is %s, not %s" % (root, server, value(server), hosts.ocx))
    expect(value(server, "threadingmodel") == "Apartment",
           "%s\\%s: ThreadingModel %s" % (root, server, value(server, "threadingmodel")))
    for progid in PROGIDS:
        clsid = value(progid + "\\CLSID")
        expect(clsid.lower() == CLSID, "%s\\%s\\CLSID is %s" % (root, progid, clsid))
    # The library's locale is 1033: 409.
    library = "TypeLib\\%s\\10.0\\409\\win%d" % (TYPELIB, hosts.bits)
    expect(value(library).lower() == hosts.ocx.lower(),
           "%s\\%s is %s" % (root, library, value(library)))


def case_register(t, hosts):
    machine = hosts.export(MACHINE)
    user = hosts.export(USER)
    hosts.register()
    check_registered(hosts, MACHINE)
    same("registering for the machine changed the user's classes", user, hosts.export(USER))
    hosts.unregister()
    same("unregistering for the machine left this behind", machine, hosts.export(MACHINE))

    # Per user twice: as in a fresh prefix, where the user has no classes yet, and as on
    # Windows, where they always exist.
    for first in (True, False):
        if not first:
            status, out = hosts.run(["reg", "add", USER, "/f"])
            expect(status == 0, "reg add %s ended with %d:\n%s" % (USER, status, out))
            user = hosts.export(USER)
        hosts.register(per_user=True)
        check_registered(hosts, USER)
        same("registering per user changed the machine's classes", machine,
             hosts.export(MACHINE))
        hosts.unregister(per_user=True)
        same("unregistering per user left this behind" if first else
             "unregistering per user changed the user's existing classes", user,
             hosts.export(USER))


def references(t, modes):
    """The Linux program's data files, one a mode, each from a meter of its own."""
    found = {}
    for mode in modes:
        data = t.linux_download(Meter(t, "ref-" + mode, RECORDS), t.work / ("linux-%s.dat" % mode),
                                mode == "blocking")
        expect(data.count(b"\r\n") == RECORDS, "the Linux %s download holds no %d records" %
               (mode, RECORDS))
        found[mode] = data
    return found


def make_port(t, number, name):
    meter = Meter(t, name, RECORDS)
    link = t.prefix / "dosdevices" / ("com%d" % number)
    link.unlink(missing_ok=True)
    link.symlink_to(meter.link)
    return meter


def fresh(path):
    path.unlink(missing_ok=True)
    return path


def counted(name, status, out):
    """The passed count of a host that prints "N passed, M failed"."""
    m = re.search(r"^(\d+) passed, (\d+) failed\s*$", out, re.M)
    expect(m is not None, "%s printed no count (status %d):\n%s" % (name, status, out))
    expect(int(m.group(2)) == 0 and int(m.group(1)) > 0, "%s:\n%s" % (name, out))
    expect(status == 0, "%s ended with %d:\n%s" % (name, status, out))
    return int(m.group(1))


def compare(t, data_file, reference, out):
    expect(data_file.exists(), "no data file %s:\n%s" % (data_file, out))
    expect(data_file.read_bytes() == reference,
           "%s differs from the Linux program's:\n%s" % (data_file.name, out))


def case_vbscript(t, hosts):
    reference = references(t, ("blocking", "events"))
    meters = [make_port(t, 5, "com5"), make_port(t, 6, "com6")]
    hosts.register()
    app = t.work / "no-unit-file"
    app.mkdir(exist_ok=True)
    fresh(app / "unit2.dat")
    missing = t.work / "no-such-folder"
    expect(not missing.exists(), "%s exists" % missing)
    blocking = fresh(t.work / "blocking.dat")
    events = fresh(t.work / "events.dat")
    status, out = hosts.run([hosts.cscript_exe, "//nologo", windows_path(HERE / "check.vbs"),
                             windows_path(app), windows_path(missing), windows_path(blocking),
                             windows_path(events), str(RECORDS), "5", "6"])
    passed = counted("check.vbs", status, out)
    # No box can be shown here: it goes to standard error and waits for nobody.
    expect("Data Received O.K!" in out, "ReadDataLogger's box is not on standard error:\n" + out)
    compare(t, blocking, reference["blocking"], out)
    compare(t, events, reference["events"], out)
    for m in meters:
        m.finished()
    return passed


def case_jscript(t, hosts):
    reference = references(t, ("events",))
    meter = make_port(t, 5, "com5")
    # For the machine: Wine's HKEY_CLASSES_ROOT has no per-user classes, so nothing
    # registered per user can be created there.
    hosts.register()
    app = t.work / "no-unit-file"
    app.mkdir(exist_ok=True)
    fresh(app / "unit2.dat")
    events = fresh(t.work / "events.dat")
    status, out = hosts.run([hosts.cscript_exe, "//nologo", windows_path(HERE / "check.js"),
                             windows_path(app), windows_path(events), str(RECORDS), "5"])
    passed = counted("check.js", status, out)
    compare(t, events, reference["events"], out)
    meter.finished()
    return passed


def case_early_bound(t, hosts, program):
    expect(program is not None, "early_bound needs --early-bound")
    reference = references(t, ("events",))
    meter = make_port(t, 5, "com5")
    silent = 8
    expect(not (t.prefix / "dosdevices" / ("com%d" % silent)).exists(),
           "COM%d of the prefix has a device" % silent)
    hosts.register()
    events = fresh(t.work / "events.dat")
    status, out = hosts.run([program, "5", windows_path(events), str(RECORDS), str(silent)])
    passed = counted("early_bound", status, out)
    compare(t, events, reference["events"], out)
    meter.finished()
    return passed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=["register", "vbscript", "jscript", "early_bound"])
    parser.add_argument("--host", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--ocx", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--early-bound")
    parser.add_argument("--bits", type=int, choices=[64, 32], default=64)
    args = parser.parse_args()
    args.program = None
    t = Test(args)
    hosts = Hosts(t, args)
    try:
        # A prefix of this run's own: what an earlier run registered must not count.
        subprocess.run(["wineserver", "-k"], env=t.wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(t.prefix, ignore_errors=True)
        t.boot()
        if args.case == "register":
            case_register(t, hosts)
            print("passed")
        elif args.case == "early_bound":
            print("passed: %d checks" % case_early_bound(t, hosts, args.early_bound))
        else:
            run = {"vbscript": case_vbscript, "jscript": case_jscript}[args.case]
            print("passed: %d checks" % run(t, hosts))
    except (Failure, subprocess.TimeoutExpired) as e:
        print("FAILED:", e, file=sys.stderr)
        return 1
    finally:
        t.close()
    t.discard()
    return 0


if __name__ == "__main__":
    sys.exit(main())
