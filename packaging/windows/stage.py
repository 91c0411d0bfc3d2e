#!/usr/bin/env python3
"""Lays out the Windows package from the two installed builds.

stage.py --x64 PREFIX --x86 PREFIX --docs DIR --version V --out DIR

PREFIX is what `cmake --install` wrote for each processor. Writes into DIR:
  VantorComm-V/            the package's tree, as it is installed
  VantorComm-V-windows.zip the same tree, for those who register by hand
  install-files.nsh        the installer's File lines for that tree
  uninstall-files.nsh      its uninstaller's Delete and RMDir lines: only
                           what it installed, so the user's own files stay
"""

import argparse
import pathlib
import shutil
import sys
import zipfile

# Per processor: (folder in the installed build, file names, folder in the package).
# The static C++ libraries and CMake's files stay out: on Windows, hosts use
# the control or the C API's DLL.
PER_ARCH = [
    ("bin", ["VantorComm.ocx", "vantor_comm_c.dll"], "bin"),
    ("lib", ["libvantor_comm_c.dll.a", "vantor_comm_c.def", "vantor_comm.tlb"], "lib"),
]
ARCHS = [("x64", "x64"), ("x86", "x86")]


def stage(args, tree):
    if tree.exists():
        shutil.rmtree(tree)
    for arch, _ in ARCHS:
        prefix = pathlib.Path(getattr(args, arch))
        for src, names, dest in PER_ARCH:
            (tree / dest / arch).mkdir(parents=True, exist_ok=True)
            for name in names:
                shutil.copy2(prefix / src / name, tree / dest / arch / name)
    # The headers are the same for both processors.
    shutil.copytree(pathlib.Path(args.x64) / "include", tree / "include")
    (tree / "docs").mkdir()
    docs = sorted(pathlib.Path(args.docs).glob("windows-*.md"))
    if not docs:
        sys.exit("stage.py: no windows-*.md in " + args.docs)
    for doc in docs:
        shutil.copy2(doc, tree / "docs" / doc.name)


def windows_path(relative):
    return "\\".join(relative.parts)


def nsis_lists(tree, out):
    files = sorted(p for p in tree.rglob("*") if p.is_file())
    folders = sorted((p for p in tree.rglob("*") if p.is_dir()), key=lambda p: len(p.parts))
    install = []
    current = None
    for f in files:
        folder = f.parent.relative_to(tree)
        if folder != current:
            current = folder
            inside = "\\" + windows_path(folder) if folder.parts else ""
            install.append('SetOutPath "$INSTDIR%s"' % inside)
        install.append('File "%s"' % f.resolve())
    uninstall = ['Delete "$INSTDIR\\%s"' % windows_path(f.relative_to(tree)) for f in files]
    # Deepest first; RMDir without /r leaves a folder the user put files in.
    uninstall += ['RMDir "$INSTDIR\\%s"' % windows_path(d.relative_to(tree))
                  for d in reversed(folders)]
    (out / "install-files.nsh").write_text("\n".join(install) + "\n")
    (out / "uninstall-files.nsh").write_text("\n".join(uninstall) + "\n")


def write_zip(tree, path):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for p in sorted(tree.rglob("*")):
            z.write(p, pathlib.PurePosixPath(tree.name, *p.relative_to(tree).parts))


def main():
    parser = argparse.ArgumentParser()
    for name in ("--x64", "--x86", "--docs", "--version", "--out"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    tree = out / ("VantorComm-" + args.version)
    stage(args, tree)
    nsis_lists(tree, out)
    write_zip(tree, out / ("VantorComm-%s-windows.zip" % args.version))


if __name__ == "__main__":
    main()
