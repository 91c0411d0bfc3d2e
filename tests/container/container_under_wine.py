#!/usr/bin/env python3
"""VantorComm.ocx on a form under Wine, on an X server of the test's own.

container_under_wine.py --host VANTOR_COMM --wine-run WINE_RUN --xvfb XVFB
                        --program FORM_CONTAINER --ocx OCX --work DIR [--regsvr32 NAME]

Registers the control in a prefix of the test's own, makes the simulated
meter's pseudo-terminal its COM5, and runs form_container, which sites the
control by class id, downloads, and shows the grid. The data file must be
byte for byte what the Linux program writes for the same memory. The
pictures the container took are written as PNG to DIR/shots.
"""

import argparse
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import zlib

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "win32"))
from serial_under_wine import LIMIT, Failure, Meter, Test, expect, wait_for, windows_path  # noqa: E402

RECORDS = 300  # about 5 s at the line rate: the indicator blinks several times


def start_xvfb(xvfb, work):
    read, write = os.pipe()
    log = open(work / "xvfb.log", "w")
    process = subprocess.Popen([xvfb, "-displayfd", str(write), "-screen", "0", "1024x768x24",
                                "-nolisten", "tcp"], pass_fds=(write,), stdout=log,
                               stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    os.close(write)
    number = b""
    with os.fdopen(read, "rb") as pipe:
        while not number.endswith(b"\n"):
            chunk = pipe.read(1)
            if not chunk:
                process.kill()
                raise Failure("Xvfb gave no display: " + (work / "xvfb.log").read_text())
            number += chunk
    return process, ":" + number.decode().strip()


def bmp_to_png(bmp, png):
    data = bmp.read_bytes()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24:
        raise Failure("%s: %d bits a pixel, not 24" % (bmp, bits))
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    for y in range(abs(height)):
        start = offset + (abs(height) - 1 - y if height > 0 else y) * stride
        bgr = data[start:start + width * 3]
        rgb = bytearray(len(bgr))
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    png.write_bytes(b"\x89PNG\r\n\x1a\n" +
                    chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)) +
                    chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))


def run(t, args):
    t.boot()
    status, log = t.run_windows_to_end([args.regsvr32, "/s", windows_path(args.ocx)],
                                       name="regsvr32", direct=True)
    expect(status == 0, "regsvr32 ended with %d:\n%s" % (status, log))

    reference = t.linux_download(Meter(t, "ref", RECORDS), t.work / "linux.dat", False)
    expect(reference.count(b"\r\n") == RECORDS, "the Linux data file holds no %d records" % RECORDS)

    meter = Meter(t, "win", RECORDS, send_now=False, paced=True)
    t.make_com5(meter)
    data_file = t.work / "form.dat"
    data_file.unlink(missing_ok=True)
    shots = t.work / "shots"
    shots.mkdir(exist_ok=True)
    for old in shots.iterdir():
        old.unlink()
    armed = t.work / "armed"
    armed.unlink(missing_ok=True)
    process, out = t.start_windows("form", ["5", windows_path(data_file), windows_path(shots),
                                            windows_path(armed)])
    wait_for("the control to open its port", lambda: armed.exists() or process.poll() is not None)
    expect(process.poll() is None, "the container ended before SEND:\n" +
           out.read_text(errors="replace"))
    meter.press()
    status = process.wait(LIMIT)
    log = out.read_text(errors="replace")
    print(log)
    expect(status == 0, "the container ended with %d" % status)
    expect("records: %d\n" % RECORDS in log, "the panel's count is not %d" % RECORDS)
    expect(data_file.read_bytes() == reference, "the data files differ")
    meter.finished()
    for bmp in sorted(shots.glob("*.bmp")):
        bmp_to_png(bmp, bmp.with_suffix(".png"))
        print("picture:", bmp.with_suffix(".png"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--host", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--xvfb", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--ocx", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--regsvr32", default="regsvr32")
    args = parser.parse_args()
    t = Test(args)
    xvfb = None
    try:
        xvfb, display = start_xvfb(args.xvfb, t.work)
        # The test's own X server: a window or a box waits for nobody.
        t.env["DISPLAY"] = display
        run(t, args)
    except (Failure, subprocess.TimeoutExpired) as e:
        print("FAILED:", e, file=sys.stderr)
        return 1
    finally:
        t.close()
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait(LIMIT)
    # A prefix is over a gigabyte; one that failed stays to be looked into.
    shutil.rmtree(t.prefix, ignore_errors=True)
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
