#!/usr/bin/env python3
"""The Windows installer under Wine: silent install, the control used, silent uninstall.

installer_under_wine.py --host VANTOR_COMM --wine-run WINE_RUN --package PACKAGE_SH
                        --build64 DIR --build32 DIR --work DIR

Makes the installer and the zip with PACKAGE_SH from both builds, then for each
mode (/CurrentUser, /AllUsers), in a fresh prefix of its own (DIR/MODE/prefix):
installs silently; the installed files are the zip's; the class and its type
library name the installed controls in the 64-bit and the 32-bit view;
CreateObject in the 64-bit and the 32-bit cscript loads them and
tests/automation/check.vbs passes against them (all users only: Wine's
HKEY_CLASSES_ROOT has no per-user classes); the uninstaller Add/Remove Programs
runs removes every file and folder the installer made, and HKLM\\Software and
HKCU\\Software, in both views, are as before the install.
A missing 32-bit build skips the test (status 77).
"""

import argparse
import difflib
import pathlib
import re
import shutil
import subprocess
import sys
import types
import zipfile

HERE = pathlib.Path(__file__).resolve().parent
sys.dont_write_bytecode = True
sys.path.insert(0, str(HERE.parent / "win32"))
sys.path.insert(0, str(HERE.parent / "automation"))
import automation_under_wine as automation_tests  # noqa: E402
from automation_under_wine import CLSID, TYPELIB  # noqa: E402
from serial_under_wine import LIMIT, Failure, Test, expect, windows_path  # noqa: E402

SKIP = 77
UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall\VantorComm"
REG64, REG32 = "reg", r"C:\windows\syswow64\reg.exe"
CSCRIPT64, CSCRIPT32 = "cscript", r"C:\windows\syswow64\cscript.exe"
EXPORTED = [(reg, key) for reg in (REG64, REG32) for key in (r"HKLM\Software", r"HKCU\Software")]

# mode: (root of its keys, its folder in cmd's words, whether Wine's COM sees its classes)
MODES = {
    "CurrentUser": ("HKCU", r"%LOCALAPPDATA%\Programs\VantorComm", False),
    "AllUsers": ("HKLM", r"%ProgramFiles%\VantorComm", True),
}

CREATE = """On Error Resume Next
Set meter = CreateObject("VantorComm.Vantor_Comm")
WScript.Echo "created " & Err.Number & " " & TypeName(meter)
"""


class Prefix:
    def __init__(self, args, mode):
        self.t = Test(types.SimpleNamespace(host=args.host, wine_run=args.wine_run, program=None,
                                            work=str(pathlib.Path(args.work) / mode)))
        self.runs = 0

    def run(self, args, ok=True):
        self.runs += 1
        status, out = self.t.run_windows_to_end(args, "step%02d" % self.runs, direct=True)
        if ok:
            expect(status == 0, "%s ended with %d:\n%s" % (" ".join(args), status, out))
        return status, out

    def unix(self, path):
        """The prefix's file of a C: path."""
        expect(path[:3].upper() == "C:\\", "not on C: " + path)
        return self.t.prefix / "drive_c" / pathlib.PureWindowsPath(path[3:]).as_posix()

    def value(self, reg, key, name=None):
        status, out = self.run([reg, "query", key] + (["/v", name] if name else ["/ve"]), ok=False)
        expect(status == 0, "%s query %s: no %s\n%s" % (reg, key, name or "default value", out))
        m = re.search(r"^    .+?    REG_\w+    (.*)$", out, re.M)
        expect(m is not None, "%s query %s printed no value:\n%s" % (reg, key, out))
        return m.group(1).strip()

    def wait_for_the_end(self):
        # The uninstaller returns at once, its copy in %TEMP% working on: the
        # prefix's server ends once every program in it has.
        subprocess.run(["wineserver", "-w"], env=self.t.wine_env(), timeout=LIMIT,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def restart(self):
        # Files a program asked to remove at the next restart go now. Wine's
        # services, started again, write some keys of their own afterwards
        # (NetworkCards): both states are taken once they have ended.
        self.run(["wineboot", "-r"])
        self.wait_for_the_end()

    def state(self):
        """Every file and folder of drive C:, and the registry exports."""
        drive = self.t.prefix / "drive_c"
        files = sorted(str(p.relative_to(drive)) for p in drive.rglob("*"))
        exports = {}
        for reg, key in EXPORTED:
            path = self.t.work / ("export-%d.reg" % self.runs)
            self.run([reg, "export", key, windows_path(path), "/y"])
            exports[(reg, key)] = path.read_bytes().decode("utf-16")
        return files, exports


def same(what, before, after):
    if before != after:
        diff = difflib.unified_diff(before, after, "before", "after", lineterm="", n=1)
        raise Failure("%s:\n%s" % (what, "\n".join(list(diff)[:60])))


def check_files(p, folder, package):
    installed = p.unix(folder)
    expect(installed.is_dir(), "nothing in " + folder)
    with zipfile.ZipFile(package) as z:
        zipped = {pathlib.PurePosixPath(*pathlib.PurePosixPath(n).parts[1:]).as_posix(): n
                  for n in z.namelist() if not n.endswith("/")}
        found = {q.relative_to(installed).as_posix() for q in installed.rglob("*") if q.is_file()}
        same("the installed files are not the zip's", sorted(zipped),
             sorted(found - {"uninstall.exe"}))
        expect("uninstall.exe" in found, "no uninstall.exe in " + folder)
        for name, member in zipped.items():
            expect((installed / name).read_bytes() == z.read(member),
                   "%s\\%s differs from the zip's" % (folder, name))
    for arch in ("x64", "x86"):
        for name in ("bin/%s/VantorComm.ocx", "bin/%s/vantor_comm_c.dll",
                     "lib/%s/libvantor_comm_c.dll.a", "lib/%s/vantor_comm_c.def"):
            expect(name % arch in found, "%s has no %s" % (folder, name % arch))


def check_registered(p, root, folder, shared_user_classes):
    control = folder + r"\bin\%s\VantorComm.ocx"
    classes = root + r"\Software\Classes"
    # (view, key, the controls it may name)
    cells = [
        (REG64, r"CLSID\%s\InprocServer32" % CLSID, {control % "x64"}),
        (REG32, r"CLSID\%s\InprocServer32" % CLSID, {control % "x86"}),
        (REG64, r"TypeLib\%s\10.0\409\win64" % TYPELIB, {control % "x64"}),
        (REG32, r"TypeLib\%s\10.0\409\win32" % TYPELIB, {control % "x86"}),
        (REG64, r"VantorComm.Vantor_Comm\CLSID", {CLSID}),
    ]
    if shared_user_classes:
        # Wine 8 has one HKCU\Software\Classes for both views, where Windows
        # keeps the 32-bit classes apart: the last registration, the 32-bit
        # one, holds the class.
        cells[0] = (REG64, cells[0][1], {control % "x64", control % "x86"})
    for reg, key, allowed in cells:
        found = p.value(reg, classes + "\\" + key)
        expect(found.lower() in {a.lower() for a in allowed},
               "%s: %s\\%s is %s, not %s" % (reg, classes, key, found, " or ".join(allowed)))


def check_created(p):
    script = p.t.work / "create.vbs"
    script.write_text(CREATE.replace("\n", "\r\n"))
    for cscript in (CSCRIPT64, CSCRIPT32):
        _, out = p.run([cscript, "//nologo", windows_path(script)])
        expect(out.strip() == "created 0 _Vantor_Comm",
               "%s: CreateObject of the installed control:\n%s" % (cscript, out))


def check_vbs(p, folder):
    """check.vbs against the installed controls; its count."""
    class Installed(automation_tests.Hosts):
        def register(self, per_user=False):
            pass  # the installer did

    passed = 0
    for bits, arch in ((64, "x64"), (32, "x86")):
        ocx = p.unix(folder + "\\bin\\%s\\VantorComm.ocx" % arch)
        hosts = Installed(p.t, types.SimpleNamespace(ocx=str(ocx), bits=bits))
        hosts.runs = 100 * bits  # its logs apart from the other host's
        passed += automation_tests.case_vbscript(p.t, hosts)
    return passed


def run_mode(args, mode, setup, package):
    root, folder_words, creatable = MODES[mode]
    p = Prefix(args, mode)
    passed = False
    try:
        subprocess.run(["wineserver", "-k"], env=p.t.wine_env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        shutil.rmtree(p.t.prefix, ignore_errors=True)
        p.t.boot()
        _, out = p.run(["cmd", "/c", "echo", folder_words])
        folder = out.strip()
        # Wine's cscript registers its own type library when it first runs.
        empty = p.t.work / "empty.vbs"
        empty.write_text("")
        for cscript in (CSCRIPT64, CSCRIPT32):
            p.run([cscript, "//nologo", windows_path(empty)])
        p.restart()
        before = p.state()

        p.run([windows_path(setup), "/S", "/" + mode])
        expect(p.value(REG64, root + "\\" + UNINSTALL, "InstallLocation").lower() == folder.lower(),
               "the %s install is not in %s" % (mode, folder))
        check_files(p, folder, package)
        check_registered(p, root, folder, shared_user_classes=root == "HKCU")
        checks = None
        if creatable:
            check_created(p)
            checks = check_vbs(p, folder)

        quiet = p.value(REG64, root + "\\" + UNINSTALL, "QuietUninstallString")
        m = re.fullmatch(r'"([^"]+)" (.*)', quiet)
        expect(m is not None and "/S" in m.group(2).split(), "QuietUninstallString: " + quiet)
        p.run([m.group(1)] + m.group(2).split())
        p.wait_for_the_end()
        expect(not p.unix(folder).exists(), folder + " is still there")
        p.restart()
        after = p.state()
        same("the %s uninstall left files or folders behind" % mode, before[0], after[0])
        for reg, key in EXPORTED:
            same("%s export %s: the %s uninstall left this" % (reg, key, mode),
                 before[1][(reg, key)].splitlines(), after[1][(reg, key)].splitlines())
        passed = True
        return checks
    finally:
        p.t.close()
        if passed:
            p.t.discard()


def main():
    parser = argparse.ArgumentParser()
    for name in ("--host", "--wine-run", "--package", "--build64", "--build32", "--work"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    work = pathlib.Path(args.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    if not list(pathlib.Path(args.build32).glob("src/automation/VantorComm.ocx")):
        print("SKIPPED: no 32-bit build in %s (tools/windows.sh win32 makes it)" % args.build32)
        return SKIP
    try:
        with open(work / "package.log", "w") as log:
            command = [args.package, args.build64, args.build32, str(work / "package")]
            status = subprocess.run(command, stdout=log, stderr=subprocess.STDOUT,
                                    timeout=LIMIT).returncode
        made = (work / "package.log").read_text()
        expect(status == 0, "%s ended with %d:\n%s" % (args.package, status, made))
        setup, package = made.strip().splitlines()[-2:]
        for mode in MODES:
            checks = run_mode(args, mode, pathlib.Path(setup), pathlib.Path(package))
            if checks is None and MODES[mode][2]:
                checks = "no tests/automation/check.vbs here"
            elif checks is not None:
                checks = "check.vbs: %d checks" % checks
            print("%s: passed%s" % (mode, "" if checks is None else " (%s)" % checks))
    except (Failure, subprocess.TimeoutExpired) as e:
        print("FAILED:", e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
